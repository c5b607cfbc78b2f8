// Connect and disconnect: the kernel is started and proven before the system proxy is touched,
// and the system proxy is put back before the kernel stops.
#include "AppModel.h"

#include "AppCollaborators.h"

#include "Errors.h"
#include "SecurityPolicy.h"
#include "Settled.h"

namespace veyra {

QCoro::Task<> AppModel::connect()
{
    // The account gate: signed out, the sign-in sheet opens and nothing else changes.
    if (!m_user) {
        Step step(*this);
        setAuthenticationMode(AuthenticationMode::login);
        setAuthenticationErrorMessage(std::nullopt);
        setShowAuthentication(true);
        co_return;
    }
    if (!membershipActive()) {
        Step step(*this);
        setSelectedPage(AppPage::membership);
        present(QStringLiteral("网络功能仅向有效会员开放，请先开通或续费会员。"));
        co_return;
    }
    if (m_isBusy || m_isConnected || m_shuttingDown)
        co_return;
    const ProxyWorkflow workflow = beginProxyWorkflow();
    {
        Step step(*this);
        m_busySwitchingConnection = true;
        setIsBusy(true);
        if (m_coreMonitorTask)
            m_coreMonitorTask->cancel();
        setStatusMessage(QStringLiteral("正在安全启动…"));
    }

    // Everything up to the system proxy either completes or rolls back.
    std::exception_ptr failure;
    try {
        const AppSettings settings = m_settings;
        SecurityPolicy::validate(settings);
        ProviderSource source = co_await officialLineStore().activeSource();
        co_await core().start(std::move(source), settings);
        {
            Step step(*this);
            setIsCoreRunning(true);
            setStatusMessage(QStringLiteral("正在检查线路可用性…"));
        }
        // The check starts at once; the settings are read while it runs and changed only after
        // it has passed. A restore still under way (the core monitor's, after the kernel before
        // this one died) finishes first: its journal would refuse this change, and its changes
        // are not what the snapshot should hold.
        QCoro::Task<> lineChecked = checkLine(settings.mixedPort);
        co_await ended(workflow.previous);
        co_await proxy().enable(settings.mixedPort, std::move(lineChecked));
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        co_await rollBackConnect(failure);
        co_return;
    }

    setIsConnected(true);
    startCoreMonitor();
    startTrafficMonitor();

    // The node list and the latencies are a courtesy: failing them still leaves us connected.
    // A kernel that dies meanwhile is the core monitor's to handle (it puts the settings back
    // and says so), so after each wait a connection that is gone ends this quietly.
    const auto gone = [this] { return !m_isConnected || !core().isRunning(); };
    QList<NodeItem> nodes;
    try {
        nodes = co_await core().nodes(m_settings);
    } catch (const std::exception &) {
        // courtesy: an empty list until the next refresh
    }
    if (gone()) {
        setIsBusy(false);
        co_return;
    }
    setNodes(nodes);
    co_await reconcileSelectedNode();
    if (gone()) {
        setIsBusy(false);
        co_return;
    }
    try {
        const QMap<QString, qint64> delays = co_await core().testLatencies(m_settings);
        applyLatencies(delays);
    } catch (const std::exception &) {
        // courtesy: latencies come with the next test
    }
    Step step(*this);
    if (!gone()) {
        setStatusMessage(QStringLiteral("已安全连接 · ") + activeNodeName());
        setConnectionFailed(false);
        sendNotification(QStringLiteral("网络连接已启用"));
    }
    setIsBusy(false);
}

QCoro::Task<> AppModel::checkLine(qint64 mixedPort)
{
    const bool carries = co_await core().verifyProxy(mixedPort);
    if (!carries)
        throw AppError(QStringLiteral("官方线路尚未连通，未修改系统代理。请刷新会员权益或查看诊断日志。"));
    setStatusMessage(QStringLiteral("正在应用系统代理…"));
}

QCoro::Task<> AppModel::rollBackConnect(const std::exception_ptr &failure)
{
    cancelMonitors();
    // Best effort both: the kernel may already be gone, and there may be nothing to restore.
    try {
        co_await core().stop(true);
    } catch (const std::exception &) {
        // best effort: the kernel may already be gone
    }
    try {
        co_await proxy().restoreIfNeeded(true);
    } catch (const std::exception &) {
        // best effort: the journal stays for repair if this fails
    }
    Step step(*this);
    setIsCoreRunning(false);
    setIsConnected(false);
    setStatusMessage(QStringLiteral("连接失败"));
    reportFailure(describe(failure));
    setIsBusy(false);
}

QCoro::Task<> AppModel::disconnect()
{
    if (m_isBusy || m_shuttingDown)
        co_return;
    const ProxyWorkflow workflow = beginProxyWorkflow();
    m_busySwitchingConnection = true;
    setIsBusy(true);
    cancelMonitors();
    persistObservedTraffic();
    co_await ended(workflow.previous);

    setStatusMessage(QStringLiteral("正在恢复系统网络设置…"));
    const std::exception_ptr restoreFailure = co_await failureOf(proxy().restoreIfNeeded(false));
    if (restoreFailure) {
        // The kernel was not touched: still connected, and still watched if it still runs.
        Step step(*this);
        setIsCoreRunning(core().isRunning());
        setStatusMessage(QStringLiteral("恢复网络设置失败，代理核心仍保持运行"));
        if (m_isCoreRunning) {
            startCoreMonitor();
            startTrafficMonitor();
        }
        reportFailure(describe(restoreFailure));
        setIsBusy(false);
        co_return;
    }

    setIsConnected(false);
    const std::exception_ptr stopFailure = co_await failureOf(core().stop(true));
    Step step(*this);
    if (stopFailure) {
        setIsCoreRunning(core().isRunning());
        setNodes({});
        setStatusMessage(QStringLiteral("系统代理已恢复，但网络核心未能正常停止"));
        present(describe(stopFailure));
        setIsBusy(false);
        co_return;
    }
    setIsCoreRunning(false);
    setNodes({});
    setStatusMessage(QStringLiteral("已断开，系统代理已恢复"));
    sendNotification(QStringLiteral("连接已断开，原网络设置已恢复"));
    setIsBusy(false);
}

} // namespace veyra
