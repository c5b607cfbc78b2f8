// Quitting leaves the machine as it was found: system proxy back first, then the kernel
// stopped. Failures only reach the diagnostic log; quitting is never refused.
#include "AppModel.h"

#include "AppCollaborators.h"

#include "Errors.h"
#include "Logger.h"
#include "Settled.h"

namespace veyra {

AppModel::ProxyWorkflow AppModel::beginProxyWorkflow()
{
    CancellationTokenPtr previous = std::move(m_proxyWorkflowDone);
    m_proxyWorkflowDone = std::make_shared<CancellationToken>();
    return ProxyWorkflow { m_proxyWorkflowDone, std::move(previous) };
}

QCoro::Task<> AppModel::ended(CancellationTokenPtr token)
{
    if (!token || token->isCancelled())
        co_return;
    CancellableSleep finished(token, std::chrono::hours(24));
    co_await finished;
}

QCoro::Task<bool> AppModel::shutdown()
{
    m_shuttingDown = true;
    if (m_paymentTask)
        m_paymentTask->cancel();
    // A connect between its journal and its change would otherwise see the change land after
    // this restore: it finishes first, and what it did is then put back like any connection.
    co_await ended(m_proxyWorkflowDone);
    cancelMonitors();
    persistObservedTraffic();
    co_await flushStorage();

    const std::exception_ptr restoreFailure = co_await failureOf(proxy().restoreIfNeeded(true));
    if (restoreFailure)
        Logger::shared().log(
            QStringLiteral("退出时后台服务未能恢复系统代理：") + Logger::redact(describe(restoreFailure)));
    const std::exception_ptr stopFailure = co_await failureOf(core().stop(true));
    if (stopFailure)
        Logger::shared().log(QStringLiteral("退出时网络核心未能正常停止：") + Logger::redact(describe(stopFailure)));

    Step step(*this);
    setIsConnected(false);
    setIsCoreRunning(false);
    co_return true;
}

} // namespace veyra
