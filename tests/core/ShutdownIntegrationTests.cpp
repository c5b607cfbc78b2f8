// Quitting: the system proxy back, the kernel stopped, failures only logged, one shutdown.
#include "AppModelTestPeer.h"
#include "ModelWorld.h"

#include "AppDelegate.h"
#include "AppPaths.h"
#include "KernelTestSupport.h"

#include <QCoroTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <csignal>
#include <optional>

using namespace veyra;
using namespace veyra::test;

namespace {

class ShutdownIntegration : public ModelWorld {
protected:
    // Waits with this process's event loop turning: it serves the line and the check.
    static bool waitFor(const std::function<bool()> &done, int limitMs)
    {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < limitMs)
            await(QCoro::sleepFor(std::chrono::milliseconds(20)));
        return done();
    }
    // Starts the stand-in application, signed in and connected in a process of its own, and
    // answers its report line: "connected KERNEL-PID PORT".
    QList<QByteArray> startConnectedProgram(QProcess &program)
    {
        const WorldSeams world = seams(QStringLiteral("/generate_204"));
        const QString settings = fixtures.filePath(QStringLiteral("program-settings.json"));
        AppPaths::write(freeSettings().toJson(), settings);
        program.start(QStringLiteral(VEYRA_TEST_CONNECTED_MODEL),
            { root(), world.kernelResources, world.checkURL, world.helperSocket, world.networkSetup, world.defaultsFile,
                world.service->baseURL.toString(), simulator->certificatePath(), QString::fromLatin1(member),
                QString::fromLatin1(password), settings });
        QByteArray report;
        waitFor(
            [&] {
                return (report += program.readAllStandardOutput()).contains('\n')
                    || program.state() == QProcess::NotRunning;
            },
            30'000);
        EXPECT_TRUE(report.startsWith("connected "))
            << report.constData() << program.readAllStandardError().constData();
        return report.trimmed().split(' ');
    }
    SystemProxyManager repairer() const
    {
        return SystemProxyManager(QStringLiteral(VEYRA_NETWORKSETUP_EXECUTABLE),
            std::make_unique<PrivilegedProxyClient>(helper->socketPath()));
    }
};

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

    EXPECT_EQ(delegate.requestQuit(), AppDelegate::Reply::terminateLater);
    EXPECT_TRUE(delegate.terminationPending());
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
    await(repairer().restoreIfNeeded(true));
}

TEST_F(ShutdownIntegration, AConnectedProcessEndsByItsSignal)
{
    for (const int signal : { SIGTERM, SIGKILL }) {
        SCOPED_TRACE(signal == SIGTERM ? "SIGTERM" : "SIGKILL");
        const nlohmann::json before = services();
        QProcess program;
        const QList<QByteArray> connected = startConnectedProgram(program);
        const qint64 kernel = connected.value(1).toLongLong();
        ASSERT_GT(kernel, 0);
        EXPECT_TRUE(everyServicePointsAt(connected.value(2).toLongLong()));
        EXPECT_TRUE(processAlive(kernel));

        ::kill(static_cast<pid_t>(program.processId()), signal);
        ASSERT_TRUE(waitFor([&] { return program.state() == QProcess::NotRunning; }, 20'000));
        // Left running, the kernel would hold the ports and every later connect would fail.
        EXPECT_TRUE(eventually([&] { return !processAlive(kernel); }, 5000));
        if (signal == SIGKILL) {
            // A crash cannot restore anything: the snapshot stays for the next start's repair.
            EXPECT_TRUE(QFile::exists(AppPaths::proxyBackup()));
            await(repairer().restoreIfNeeded(true));
            continue;
        }
        // SIGTERM ends it only after the system proxy is back.
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().constData();
        EXPECT_EQ(services(), before);
        EXPECT_FALSE(QFile::exists(AppPaths::proxyBackup()));
    }
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
