// Start-up: first-run handling, settings and the stored line, the restored session, the login
// item, repair of a system proxy an earlier crash left behind, the kernel's installation, the
// silent refreshes, a pending order, auto-connect and the sign-in prompt. Runs once.
#include "AppModel.h"

#include "AppCollaborators.h"

#include "AppPaths.h"
#include "Errors.h"
#include "InstallationIdentity.h"
#include "Logger.h"
#include "SecurityPolicy.h"
#include "Settled.h"

namespace veyra {

void AppModel::readSettingsBeforeFirstPaint()
{
    // A small local file, read once on the main thread: the first frame depends on it. A file
    // that does not read is left to start-up, which quarantines it and says so.
    try {
        std::optional<AppSettings> stored = AppPaths::read<AppSettings>(AppPaths::settings(), AppPaths::settingsCap);
        if (!stored)
            return;
        stored->validate();
        setSettings(*stored);
    } catch (const std::exception &) {
        // start-up reports it
    }
}

QCoro::Task<> AppModel::bootstrap()
{
    if (m_bootstrapped)
        co_return;
    m_bootstrapped = true;

    auto consume
        = [defaults = m_collaborators->defaults] { return InstallationIdentity::consumeCurrentInstallation(defaults); };
    const bool firstRun = co_await m_ioExecutor.run(consume);
    const bool session = co_await restoreSession(firstRun);

    setIsBusy(true);
    std::exception_ptr failure;
    try {
        auto prepare = [] { AppPaths::prepare(); };
        co_await m_ioExecutor.run(prepare);
        m_storedSettings = co_await settingsStore().loadSettings();
        setSettings(m_storedSettings);

        // The stored line counts only when it would pass the address check today.
        auto lineIsUsable = [keychain = m_collaborators->keychain, resolver = m_collaborators->resolver] {
            try {
                const std::optional<QString> line
                    = keychain.load(QString::fromLatin1(KeychainStore::officialLineAccount));
                return line && !SecurityPolicy::officialLineURL(*line, resolver).isEmpty();
            } catch (const std::exception &) {
                return false;
            }
        };
        setOfficialLineReady(co_await m_ioExecutor.run(lineIsUsable));
        showRestoredSession();

        // The desktop's answer wins over the stored switch.
        const bool registered = m_collaborators->loginItem.status() == LoginItemService::Status::enabled;
        if (m_settings.startAtLogin != registered) {
            const SettingsWrite written
                = co_await commitSettings([registered](AppSettings &settings) { settings.startAtLogin = registered; },
                    [](AppSettings &) { /* the desktop's answer is shown even when it cannot be kept */ });
            Q_UNUSED(written); // not kept on disk: the next start reconciles again
        }

        if (co_await proxy().recoverStaleProxy())
            setStatusMessage(QStringLiteral("已恢复上次异常退出前的网络设置"));
        co_await core().ensureCore();
        setIsCoreRunning(false);
    } catch (...) {
        failure = std::current_exception();
    }

    if (failure) {
        Step step(*this);
        present(describe(failure));
        setStatusMessage(QStringLiteral("需要处理后再连接"));
    } else {
        co_await refreshPlans(true);
        if (m_user) {
            co_await refreshAccount(true);
            if (m_user)
                co_await resumePendingOrder();
        } else {
            try {
                co_await officialLineStore().synchronize(std::nullopt);
            } catch (const std::exception &) {
                // best effort: the line is unusable without a membership anyway
            }
            setOfficialLineReady(false);
        }

        if (m_settings.autoConnect && membershipActive() && m_officialLineReady) {
            setIsBusy(false);
            co_await connect();
        } else if (m_statusMessage == QStringLiteral("正在初始化…")
            || m_statusMessage == QStringLiteral("正在自动恢复登录…")) {
            // A restored session whose refresh went through is no longer "being restored".
            setStatusMessage(QStringLiteral("准备就绪"));
        }
    }

    Step step(*this);
    // A session the service turned away has already opened the sheet with its reason, which
    // stays; otherwise the sheet opens clean.
    if (!m_user && !m_showAuthentication) {
        setAuthenticationMode(firstRun || !session ? AuthenticationMode::registration : AuthenticationMode::login);
        setAuthenticationErrorMessage(std::nullopt);
        setShowAuthentication(true);
    }
    setIsBusy(false);
}

QCoro::Task<> AppModel::setStartAtLogin(bool value)
{
    auto change = [loginItem = m_collaborators->loginItem, value] { loginItem.setEnabled(value); };
    const std::exception_ptr failure = co_await failureOf(m_ioExecutor.run(change));
    if (failure) {
        // The switch shows what is really registered; the record is not saved.
        AppSettings updated = m_settings;
        updated.startAtLogin = m_collaborators->loginItem.status() == LoginItemService::Status::enabled;
        setSettings(updated);
        present(QStringLiteral("无法修改登录启动设置：") + describe(failure));
        co_return;
    }
    const bool old = !value;
    co_await saveSwitch([value](AppSettings &settings) { settings.startAtLogin = value; },
        [old](AppSettings &settings) { settings.startAtLogin = old; });
}

QCoro::Task<> AppModel::setNotifications(bool value)
{
    // Not a conditional expression around the co_await: this compiler mishandles temporaries
    // in one.
    bool granted = false;
    if (value)
        granted = co_await notifications().requestAuthorization();
    const bool old = m_settings.showNotifications;
    co_await saveSwitch([granted](AppSettings &settings) { settings.showNotifications = granted; },
        [old](AppSettings &settings) { settings.showNotifications = old; });
}

} // namespace veyra
