// The operations behind the settings page and the menu's repair entry.
#include "AppModel.h"

#include "AppCollaborators.h"

#include "AppPaths.h"
#include "Errors.h"
#include "Settled.h"

namespace veyra {

void AppModel::editPorts(qint64 mixedPort, qint64 socksPort, qint64 controllerPort)
{
    AppSettings edited = m_settings;
    edited.mixedPort = mixedPort;
    edited.socksPort = socksPort;
    edited.controllerPort = controllerPort;
    Step step(*this);
    setSettings(edited);
}

void AppModel::editUiScale(qint64 percent)
{
    AppSettings edited = m_settings;
    edited.uiScalePercent = percent;
    Step step(*this);
    setSettings(edited);
}

QCoro::Task<AppModel::SettingsWrite> AppModel::commitSettings(SettingsChange change, SettingsChange undo)
{
    // The change goes into the record as last written, not the published one: port and scale
    // edits the user has not saved yet are neither written by a switch nor able to fail it.
    // Both records take the change at once, so a second change made before this write ends
    // carries this one with it.
    AppSettings next = m_settings;
    change(next);
    setSettings(next);
    change(m_storedSettings);
    const AppSettings stored = m_storedSettings;
    const std::exception_ptr failure = co_await failureOf(settingsStore().saveSettings(stored));
    if (failure) {
        undo(m_storedSettings);
        AppSettings back = m_settings;
        undo(back);
        setSettings(back);
    }
    co_return SettingsWrite { failure };
}

QCoro::Task<> AppModel::saveSettings()
{
    const AppSettings whole = m_settings;
    const std::exception_ptr failure = co_await failureOf(settingsStore().saveSettings(whole));
    if (failure) {
        present(describe(failure));
        co_return;
    }
    m_storedSettings = whole;
}

QCoro::Task<> AppModel::saveSwitch(SettingsChange change, SettingsChange undo)
{
    const SettingsWrite written = co_await commitSettings(std::move(change), std::move(undo));
    if (written.failure)
        present(describe(written.failure));
}

QCoro::Task<> AppModel::setAutoConnect(bool value)
{
    const bool old = m_settings.autoConnect;
    co_await saveSwitch([value](AppSettings &settings) { settings.autoConnect = value; },
        [old](AppSettings &settings) { settings.autoConnect = old; });
}

QCoro::Task<> AppModel::exportSettings(QString path)
{
    // The record holds ports and switches only: no account, token or line ever leaves.
    auto write = [settings = m_settings, path] {
        settings.validate();
        AppPaths::write(settings.toJson(), path);
    };
    const std::exception_ptr failure = co_await failureOf(m_ioExecutor.run(write));
    if (failure) {
        present(describe(failure));
        co_return;
    }
    setStatusMessage(QStringLiteral("安全设置已导出"));
}

QCoro::Task<> AppModel::importSettings(QString path)
{
    if (m_isConnected || m_isCoreRunning) {
        present(QStringLiteral("请先断开连接，再导入端口与网络设置。"));
        co_return;
    }
    Settled<AppSettings> read = co_await settle(settingsStore().importSettings(path));
    if (read.failure) {
        present(describe(read.failure));
        co_return;
    }
    AppSettings imported = std::move(*read.value);
    const bool startAtLogin = imported.startAtLogin;
    const bool notifications = imported.showNotifications;
    if (startAtLogin == m_settings.startAtLogin && notifications == m_settings.showNotifications) {
        Step step(*this);
        setSettings(imported);
        m_storedSettings = imported;
        setStatusMessage(QStringLiteral("设置已导入"));
        co_return;
    }
    // The two switches with effects outside the application take the file's values the way a
    // click would: the login item registered, notifications asked for.
    imported.startAtLogin = m_settings.startAtLogin;
    imported.showNotifications = m_settings.showNotifications;
    {
        Step step(*this);
        setSettings(imported);
        m_storedSettings = imported;
    }
    if (startAtLogin != m_settings.startAtLogin)
        co_await setStartAtLogin(startAtLogin);
    if (notifications != m_settings.showNotifications)
        co_await setNotifications(notifications);
    // Whatever the two switches came to, the file ends holding what the page shows.
    co_await saveSwitch([](AppSettings &) {}, [](AppSettings &) {});
    setStatusMessage(QStringLiteral("设置已导入"));
}

QString AppModel::diagnosticLogFolder() const
{
    return AppPaths::logs();
}

QCoro::Task<> AppModel::repairNetworkSettings()
{
    if (m_isBusy || m_shuttingDown)
        co_return;
    const ProxyWorkflow workflow = beginProxyWorkflow();
    setIsBusy(true);
    cancelMonitors();
    persistObservedTraffic();
    co_await ended(workflow.previous);

    // Every saved service goes back, whether or not it still points at us; a failed restore
    // keeps the snapshot for another attempt and the kernel is then left alone.
    std::exception_ptr failure;
    try {
        co_await proxy().restoreIfNeeded(true);
        co_await core().stop(true);
    } catch (...) {
        failure = std::current_exception();
    }
    Step step(*this);
    if (failure) {
        present(describe(failure));
        setIsBusy(false);
        co_return;
    }
    setIsConnected(false);
    setIsCoreRunning(false);
    setStatusMessage(QStringLiteral("网络设置修复完成"));
    setIsBusy(false);
}

} // namespace veyra
