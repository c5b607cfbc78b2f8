// The machine woke up while connected: hours may have passed, the kernel may have been killed,
// the network may have changed under it and someone else may have changed the proxy settings.
// The connection is checked once, as the core monitor and a connect would check it.
#include "AppModel.h"

#include "AppCollaborators.h"

#include "Errors.h"
#include "Logger.h"
#include "MihomoManager.h"
#include "SystemProxyManager.h"

namespace veyra {

void AppModel::watchForWake()
{
    if (SleepWatcher *watcher = m_collaborators->sleepWatcher.get())
        QObject::connect(watcher, &SleepWatcher::resumed, this, [this] { checkAfterWake(); });
}

QCoro::Task<> AppModel::checkAfterWake()
{
    // A connect or disconnect under way proves or ends the connection itself.
    if (!m_isConnected || m_isBusy || m_shuttingDown)
        co_return;
    const qint64 kernel = core().processId();
    bool healthy = core().isRunning();
    if (healthy)
        healthy = co_await core().verifyProxy(m_settings.mixedPort);
    if (healthy)
        healthy = co_await settingsStillOurs();
    // While the line was checked the core monitor may have handled a dead kernel, or the user
    // may have disconnected or connected anew; what the check found is then out of date.
    if (healthy || !m_isConnected || m_isBusy || m_shuttingDown || core().processId() != kernel)
        co_return;

    // Handled as the core monitor handles a kernel that died, in its place, so that a connect
    // started meanwhile stops it the same way.
    if (m_coreMonitorTask)
        m_coreMonitorTask->cancel();
    auto token = std::make_shared<CancellationToken>();
    m_coreMonitorTask.emplace(connectionLost(QPointer<AppModel>(this), token), token);
}

QCoro::Task<bool> AppModel::settingsStillOurs()
{
    try {
        co_return co_await proxy().stillApplied();
    } catch (const std::exception &error) {
        // Settings that could not be read were not shown to be changed: the connection stays.
        Logger::shared().log(QStringLiteral("唤醒后无法读取系统代理设置：") + describe(error));
        co_return true;
    }
}

} // namespace veyra
