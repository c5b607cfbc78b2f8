// The two loops that run while connected (the kernel's health, the traffic it carries) and the
// bookkeeping that keeps the used-traffic figure growing within one membership period.
#include "AppModel.h"

#include "AppCollaborators.h"

#include "AppPaths.h"
#include "Errors.h"
#include "MihomoManager.h"
#include "OfficialLineStore.h"
#include "Settled.h"

#include <algorithm>
#include <chrono>
#include <limits>

namespace veyra {

namespace {
constexpr std::chrono::milliseconds corePollInterval { 2000 };
constexpr std::chrono::milliseconds trafficRetryDelay { 2000 };
constexpr int samplesBetweenWrites = 15;
constexpr int samplesBetweenUsagePolls = 30;

// Two non-negative counts added without overflow.
qint64 saturatingSum(qint64 a, qint64 b)
{
    return a > std::numeric_limits<qint64>::max() - b ? std::numeric_limits<qint64>::max() : a + b;
}
} // namespace

void AppModel::cancelMonitors()
{
    if (m_coreMonitorTask)
        m_coreMonitorTask->cancel();
    if (m_trafficMonitorTask) {
        m_trafficMonitorTask->cancel();
        // A pending sample wait ends now rather than at the stream's own time-out.
        core().cancelTrafficStream();
    }
}

void AppModel::startCoreMonitor()
{
    if (m_coreMonitorTask)
        m_coreMonitorTask->cancel();
    auto token = std::make_shared<CancellationToken>();
    m_coreMonitorTask.emplace(coreMonitorLoop(QPointer<AppModel>(this), token), token);
}

QCoro::Task<> AppModel::coreMonitorLoop(QPointer<AppModel> model, CancellationTokenPtr token)
{
    for (;;) {
        if (token->isCancelled() || !model)
            co_return;
        // The kernel's end wakes the check at once, so the system proxy comes back without
        // waiting out the interval; the poll still catches a kernel that hangs on.
        auto wake = std::make_shared<CancellationToken>();
        QObject::connect(token.get(), &CancellationToken::cancelled, wake.get(), &CancellationToken::cancel);
        QObject::connect(&model->core(), &MihomoManager::processEnded, wake.get(), &CancellationToken::cancel);
        CancellableSleep pause(wake, corePollInterval);
        co_await pause;
        if (token->isCancelled() || !model)
            co_return;
        if (model->core().isRunning())
            continue;
        break;
    }

    co_await connectionLost(model, token);
}

QCoro::Task<> AppModel::connectionLost(QPointer<AppModel> model, CancellationTokenPtr token)
{
    if (!model)
        co_return;
    {
        Step step(*model);
        // A kernel found alive but no longer carrying the line counts as running until it is
        // stopped below.
        model->setIsCoreRunning(model->core().isRunning());
        model->setNodes({});
    }
    if (model->m_trafficMonitorTask)
        model->m_trafficMonitorTask->cancel();
    model->persistObservedTraffic();
    if (!model->m_isConnected)
        co_return;

    model->setIsConnected(false);
    const ProxyWorkflow workflow = model->beginProxyWorkflow();
    const std::exception_ptr restoreFailure = co_await failureOf(model->proxy().restoreIfNeeded(false));
    // A connect started meanwhile cancelled this monitor and owns the kernel, the status and
    // the alert from then on: a stale monitor touches none of them.
    if (!model || token->isCancelled())
        co_return;
    if (restoreFailure) {
        Step step(*model);
        model->setStatusMessage(QStringLiteral("网络核心已退出，系统代理恢复失败"));
        model->reportFailure(describe(restoreFailure));
        co_return;
    }
    try {
        // Clears the dead process (or ends the one that lost its line) and removes its
        // configuration.
        co_await model->core().stop(true);
    } catch (const std::exception &) {
        // the process is gone already; only its leftovers could not be cleared
    }
    if (!model || token->isCancelled())
        co_return;
    Step step(*model);
    model->setIsCoreRunning(false);
    model->setStatusMessage(QStringLiteral("网络核心异常退出，系统代理已自动恢复"));
    model->reportFailure(QStringLiteral("网络核心已异常退出，应用已自动恢复系统网络设置。"));
}

void AppModel::startTrafficMonitor()
{
    if (m_trafficMonitorTask) {
        m_trafficMonitorTask->cancel();
        core().cancelTrafficStream();
    }
    mergeTrafficUsageSources();
    auto token = std::make_shared<CancellationToken>();
    m_trafficMonitorTask.emplace(trafficMonitorLoop(QPointer<AppModel>(this), token), token);
}

QCoro::Task<> AppModel::applyProviderTrafficUsage()
{
    // Errors are ignored: the provider's figure is only one of several sources.
    try {
        const QByteArray answer = co_await core().controller(
            QStringLiteral("providers/proxies"), QByteArrayLiteral("GET"), std::nullopt, m_settings);
        if (const std::optional<qint64> used
            = MihomoManager::parseProviderTrafficUsage(answer, QString::fromLatin1(OfficialLineStore::providerID)))
            applyAbsoluteTrafficUsage(*used);
    } catch (const std::exception &) {
        // optional: the provider figure is one of several sources
    }
}

QCoro::Task<> AppModel::trafficMonitorLoop(QPointer<AppModel> model, CancellationTokenPtr token)
{
    if (!model)
        co_return;
    co_await model->applyProviderTrafficUsage();
    int samples = 0;
    while (model && !token->isCancelled() && model->m_isConnected) {
        TrafficRateSample sample;
        bool received = false;
        try {
            sample = co_await model->core().nextTrafficSample(model->m_settings);
            received = true;
        } catch (const std::exception &) {
            // retried: the loop waits and asks again
        }
        if (!model || token->isCancelled())
            co_return;
        if (!received) {
            CancellableSleep pause(token, trafficRetryDelay);
            co_await pause;
            continue;
        }
        // One sample covers one second of the kernel's stream: it is the rate as well.
        model->recordSpeed(sample);

        const qint64 bytes = saturatingSum(std::max<qint64>(sample.up, 0), std::max<qint64>(sample.down, 0));
        if (bytes > 0) {
            const qint64 total
                = saturatingSum(std::max<qint64>(model->m_observedTrafficUsedBytes.value_or(0), 0), bytes);
            model->setObservedTrafficUsedBytes(total);
            if (++model->m_trafficSamplesSincePersist >= samplesBetweenWrites) {
                model->writeTrafficRecord(total);
                model->m_trafficSamplesSincePersist = 0;
            }
        }
        if (++samples % samplesBetweenUsagePolls == 0) {
            co_await model->applyProviderTrafficUsage();
            if (!model || token->isCancelled())
                co_return;
            co_await model->refreshAccount(true);
        }
    }
}

void AppModel::writeTrafficRecord(qint64 usedBytes)
{
    if (!m_trafficIdentity)
        return;
    const TrafficUsageRecord record { *m_trafficIdentity, std::max<qint64>(usedBytes, 0),
        QDateTime::currentDateTimeUtc() };
    // Written on the model's own thread (the atomic write syncs to disk), in order with the
    // other queued writes; flushStorage() waits for them.
    auto write = [record, path = AppPaths::trafficUsage()] {
        try {
            AppPaths::write(record.toJson(), path);
        } catch (const std::exception &) {
            // A lost write costs at most the samples since the last one.
        }
    };
    m_ioExecutor.run(write);
}

QCoro::Task<> AppModel::flushStorage()
{
    auto nothing = [] {};
    co_await m_ioExecutor.run(nothing);
}

void AppModel::persistObservedTraffic()
{
    if (m_trafficIdentity && m_observedTrafficUsedBytes)
        writeTrafficRecord(*m_observedTrafficUsedBytes);
    m_trafficSamplesSincePersist = 0;
}

void AppModel::applyAbsoluteTrafficUsage(qint64 bytes)
{
    if (!m_trafficIdentity)
        return;
    setObservedTrafficUsedBytes(std::max<qint64>({ m_observedTrafficUsedBytes.value_or(0), bytes, 0 }));
    persistObservedTraffic();
}

void AppModel::mergeTrafficUsageSources()
{
    if (!m_user || !m_user->membership) {
        m_trafficIdentity.reset();
        setObservedTrafficUsedBytes(std::nullopt);
        return;
    }
    const Membership &membership = *m_user->membership;
    const TrafficUsageIdentity identity { m_user->account, membership.planId, membership.expiresAt };

    // Within one identity the figure only grows: the largest of what anybody has seen.
    std::optional<qint64> largest;
    const auto consider = [&largest](std::optional<qint64> candidate) {
        if (candidate && (!largest || *candidate > *largest))
            largest = candidate;
    };
    consider(membership.trafficUsedBytes);
    consider(TrafficUsageStore::load(identity));
    if (m_trafficIdentity == identity)
        consider(m_observedTrafficUsedBytes);

    m_trafficIdentity = identity;
    setObservedTrafficUsedBytes(largest);
    persistObservedTraffic();
}

} // namespace veyra
