// The operations behind the settings page and the menu's repair entry.
#include "AppModel.h"

#include "AppPaths.h"
#include "Errors.h"

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
    AppSettings next = m_settings;
    change(next);
    setSettings(next);
    std::exception_ptr failure;
    try {
        co_await settingsStore().saveSettings(next);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        AppSettings back = m_settings;
        undo(back);
        setSettings(back);
    }
    co_return SettingsWrite { failure };
}

QCoro::Task<> AppModel::saveSettings()
{
    std::exception_ptr failure;
    try {
        co_await settingsStore().saveSettings(m_settings);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure)
        present(describe(failure));
}

QCoro::Task<> AppModel::setAutoConnect(bool value)
{
    AppSettings updated = m_settings;
    updated.autoConnect = value;
    setSettings(updated);
    co_await saveSettings();
}

QCoro::Task<> AppModel::exportSettings(QString path)
{
    // The record holds ports and switches only: no account, token or line ever leaves.
    std::exception_ptr failure;
    auto write = [settings = m_settings, path] {
        settings.validate();
        AppPaths::write(settings.toJson(), path);
    };
    try {
        co_await m_ioExecutor.run(write);
    } catch (...) {
        failure = std::current_exception();
    }
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
    std::exception_ptr failure;
    AppSettings imported;
    try {
        imported = co_await settingsStore().importSettings(path);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        present(describe(failure));
        co_return;
    }
    Step step(*this);
    setSettings(imported);
    setStatusMessage(QStringLiteral("设置已导入"));
}

QCoro::Task<> AppModel::repairNetworkSettings()
{
    if (m_isBusy)
        co_return;
    setIsBusy(true);
    cancelMonitors();
    persistObservedTraffic();

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
