// Quitting: the system proxy back, the kernel stopped, failures only logged, one shutdown.
#include "AppModelTestPeer.h"
#include "ModelWorld.h"

#include "AppDelegate.h"
#include "AppPaths.h"
#include "KernelTestSupport.h"

#include <QCoroTimer>
#include <QFile>

#include <csignal>
#include <optional>

using namespace veyra;
using namespace veyra::test;

namespace {

class ShutdownIntegration : public ModelWorld { };

TEST_F(ShutdownIntegration, WithTheHelperGoneTheKernelStillStopsAndTheLogSaysWhy)
{
    AppModel &m = connectedModel();
    const qint64 pid = Peer::core(m).processId();
    helper.reset();
    EXPECT_TRUE(await(m.shutdown()));
    EXPECT_FALSE(processAlive(pid));
    EXPECT_FALSE(m.isConnected());
    EXPECT_TRUE(diagnosticLog().contains(QStringLiteral("退出时后台服务未能恢复系统代理：")));
    // The snapshot stays for the next start to repair.
    EXPECT_TRUE(QFile::exists(AppPaths::proxyBackup()));
    EXPECT_EQ(m.alertMessage(), std::nullopt);
    helper = std::make_unique<HelperHarness>();
}

TEST_F(ShutdownIntegration, QuittingWhileConnectedRestoresAndStopsOnceHoweverOftenItIsAsked)
{
    AppModel &m = connectedModel();
    const qint64 pid = Peer::core(m).processId();
    const QString status = m.statusMessage();
    int leftEventLoop = 0, terminations = 0;
    AppDelegate delegate(&m, [&] { ++leftEventLoop; });
    QObject::connect(&delegate, &AppDelegate::terminated, [&] { ++terminations; });

    // SIGTERM asks as a session's end would; the shutdown then runs once.
    delegate.watchQuitRequests();
    ::raise(SIGTERM);
    ASSERT_TRUE(eventually([&] { return delegate.terminationPending(); }));
    EXPECT_EQ(delegate.requestQuit(), AppDelegate::Reply::terminateCancel);
    EXPECT_TRUE(eventually([&] { return terminations > 0; }, 15000));
    EXPECT_EQ(terminations, 1);
    EXPECT_EQ(leftEventLoop, 1);
    EXPECT_FALSE(delegate.terminationPending());
    expectRestored(m);
    EXPECT_FALSE(processAlive(pid));
    EXPECT_FALSE(QFile::exists(AppPaths::config()));
    EXPECT_EQ(m.statusMessage(), status);
    EXPECT_EQ(m.alertMessage(), std::nullopt);

    // Without a model there is nothing to wait for.
    AppDelegate orphan(nullptr, [&] { ++leftEventLoop; });
    EXPECT_EQ(orphan.requestQuit(), AppDelegate::Reply::terminateNow);
    EXPECT_EQ(leftEventLoop, 2);
}

TEST_F(ShutdownIntegration, ReleasingTheModelWhileItsLoopsRunIsSafe)
{
    AppModel &m = connectedModel();
    ASSERT_TRUE(Peer::coreMonitorRunning(m) && Peer::trafficMonitorRunning(m));
    const qint64 pid = Peer::core(m).processId();
    model.reset();
    // The loops wake up to find the model gone, and end without touching it.
    await(QCoro::sleepFor(std::chrono::milliseconds(2500)));
    EXPECT_FALSE(processAlive(pid));
}

TEST_F(ShutdownIntegration, QuittingDuringAConnectWaitsForItThenPutsEverythingBack)
{
    AppModel &m = makeModel();
    // Quit just as the connect is about to change the system proxy.
    std::optional<QCoro::Task<bool>> quitting;
    const QObject watching; // goes before `quitting`: the fixture's shutdown still emits
    QObject::connect(&m, &AppModel::statusMessageChanged, &watching, [&] {
        if (!quitting && m.statusMessage() == QStringLiteral("正在应用系统代理…"))
            quitting.emplace(m.shutdown());
    });
    await(m.connect());
    ASSERT_TRUE(quitting);
    EXPECT_TRUE(await(std::move(*quitting)));
    expectRestored(m);

    // Nothing that touches the system proxy starts once quitting has begun.
    await(m.connect());
    await(m.repairNetworkSettings());
    EXPECT_FALSE(m.isBusy());
    expectRestored(m);
}

} // namespace
