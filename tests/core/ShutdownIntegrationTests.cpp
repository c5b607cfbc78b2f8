// Quitting: the system proxy back, the kernel stopped, failures only logged, one shutdown.
#include "ModelWorld.h"

#include "AppDelegate.h"
#include "AppPaths.h"
#include "KernelTestSupport.h"

#include <QFile>

using namespace veyra;
using namespace veyra::test;

namespace {

class ShutdownIntegration : public ModelWorld { };

TEST_F(ShutdownIntegration, QuittingWhileConnectedRestoresAndStops)
{
    MemberModel &m = makeModel();
    const nlohmann::json before = services();
    await(m.connect());
    ASSERT_TRUE(m.isConnected());
    const qint64 pid = m.core().processId();
    const QString status = m.statusMessage();

    EXPECT_TRUE(await(m.shutdown()));
    EXPECT_FALSE(m.isConnected());
    EXPECT_FALSE(m.isCoreRunning());
    EXPECT_EQ(services(), before);
    EXPECT_FALSE(processAlive(pid));
    EXPECT_FALSE(QFile::exists(AppPaths::config()));
    EXPECT_EQ(m.statusMessage(), status);
    EXPECT_EQ(m.alertMessage(), std::nullopt);
}

TEST_F(ShutdownIntegration, WithTheHelperGoneTheKernelStillStopsAndTheLogSaysWhy)
{
    MemberModel &m = makeModel();
    await(m.connect());
    ASSERT_TRUE(m.isConnected());
    const qint64 pid = m.core().processId();
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

TEST_F(ShutdownIntegration, ASecondQuitRequestDuringTheShutdownIsIgnored)
{
    MemberModel &m = makeModel();
    await(m.connect());
    ASSERT_TRUE(m.isConnected());
    int leftEventLoop = 0;
    AppDelegate delegate(&m, [&] { ++leftEventLoop; });
    int terminations = 0;
    QObject::connect(&delegate, &AppDelegate::terminated, [&] { ++terminations; });

    EXPECT_EQ(delegate.requestQuit(), AppDelegate::Reply::terminateLater);
    EXPECT_TRUE(delegate.terminationPending());
    EXPECT_EQ(delegate.requestQuit(), AppDelegate::Reply::terminateCancel);
    EXPECT_TRUE(eventually([&] { return terminations > 0; }, 15000));
    EXPECT_EQ(terminations, 1);
    EXPECT_EQ(leftEventLoop, 1);
    EXPECT_FALSE(delegate.terminationPending());
    EXPECT_FALSE(m.isConnected());
    EXPECT_FALSE(m.core().isRunning());

    // Without a model there is nothing to wait for.
    AppDelegate orphan(nullptr, [&] { ++leftEventLoop; });
    EXPECT_EQ(orphan.requestQuit(), AppDelegate::Reply::terminateNow);
    EXPECT_EQ(leftEventLoop, 2);
}

} // namespace
