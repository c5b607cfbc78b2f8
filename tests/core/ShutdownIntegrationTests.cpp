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

struct ConnectedProgram {
    qint64 kernel = 0;
    qint64 port = 0;
};

class ShutdownIntegration : public ModelWorld {
protected:
    // Starts the stand-in application, signed in and connected in a process of its own, and
    // answers its kernel's pid and port once it says so (nothing, with a failure, otherwise).
    ConnectedProgram startConnectedProgram(QProcess &program)
    {
        const WorldSeams world = seams(QStringLiteral("/generate_204"));
        const QString settings = fixtures.filePath(QStringLiteral("program-settings.json"));
        AppPaths::write(freeSettings().toJson(), settings);
        program.setProcessChannelMode(QProcess::SeparateChannels);
        program.start(QStringLiteral(VEYRA_TEST_CONNECTED_MODEL),
            { root(), world.kernelResources, world.checkURL, world.helperSocket, world.networkSetup, world.defaultsFile,
                world.service->baseURL.toString(), simulator->certificatePath(), QString::fromLatin1(member),
                QString::fromLatin1(password), settings });
        if (!program.waitForStarted(5000)) {
            ADD_FAILURE() << program.errorString().toStdString();
            return {};
        }
        // Waits for the one report line while this process keeps serving the line and the check.
        QByteArray report;
        QElapsedTimer clock;
        clock.start();
        while (!report.contains('\n') && clock.elapsed() < 30'000 && program.state() == QProcess::Running) {
            await(QCoro::sleepFor(std::chrono::milliseconds(20)));
            report += program.readAllStandardOutput();
        }
        if (!report.startsWith("connected ")) {
            ADD_FAILURE() << report.constData() << program.readAllStandardError().constData();
            return {};
        }
        const QList<QByteArray> fields = report.trimmed().split(' ');
        return { fields.value(1).toLongLong(), fields.value(2).toLongLong() };
    }
};

TEST_F(ShutdownIntegration, WithTheHelperGoneTheKernelStillStopsAndTheLogSaysWhy)
{
    AppModel &m = makeModel();
    await(m.connect());
    ASSERT_TRUE(m.isConnected());
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
    AppModel &m = makeModel();
    const nlohmann::json before = services();
    await(m.connect());
    ASSERT_TRUE(m.isConnected());
    const qint64 pid = Peer::core(m).processId();
    const QString status = m.statusMessage();
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
    EXPECT_FALSE(m.isCoreRunning());
    EXPECT_EQ(services(), before);
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
    AppModel &m = makeModel();
    await(m.connect());
    ASSERT_TRUE(m.isConnected() && Peer::coreMonitorRunning(m) && Peer::trafficMonitorRunning(m));
    const qint64 pid = Peer::core(m).processId();
    model.reset();
    // The loops wake up to find the model gone, and end without touching it.
    await(QCoro::sleepFor(std::chrono::milliseconds(2500)));
    EXPECT_FALSE(processAlive(pid));
    // What the release left behind is what start-up repair is for.
    SystemProxyManager repair(
        QStringLiteral(VEYRA_NETWORKSETUP_EXECUTABLE), std::make_unique<PrivilegedProxyClient>(helper->socketPath()));
    await(repair.restoreIfNeeded(true));
    EXPECT_FALSE(QFile::exists(AppPaths::proxyBackup()));
}

TEST_F(ShutdownIntegration, AConnectedProcessEndsByItsSignal)
{
    for (const int signal : { SIGTERM, SIGKILL }) {
        SCOPED_TRACE(signal == SIGTERM ? "SIGTERM" : "SIGKILL");
        const nlohmann::json before = services();
        QProcess program;
        const ConnectedProgram connected = startConnectedProgram(program);
        ASSERT_GT(connected.kernel, 0);
        EXPECT_TRUE(everyServicePointsAt(connected.port));
        EXPECT_TRUE(processAlive(connected.kernel));

        ::kill(static_cast<pid_t>(program.processId()), signal);
        // Waited for with this process's event loop turning: it serves the line and the check.
        QElapsedTimer clock;
        clock.start();
        while (program.state() != QProcess::NotRunning && clock.elapsed() < 20'000)
            await(QCoro::sleepFor(std::chrono::milliseconds(20)));
        ASSERT_EQ(program.state(), QProcess::NotRunning) << "still running 20 s after the signal";
        // Left running, the kernel would hold the ports and every later connect would fail.
        EXPECT_TRUE(eventually([&] { return !processAlive(connected.kernel); }, 5000));
        if (signal == SIGKILL) {
            // A crash cannot restore anything: the snapshot stays for the next start's repair.
            EXPECT_TRUE(QFile::exists(AppPaths::proxyBackup()));
            SystemProxyManager repair(QStringLiteral(VEYRA_NETWORKSETUP_EXECUTABLE),
                std::make_unique<PrivilegedProxyClient>(helper->socketPath()));
            await(repair.restoreIfNeeded(true));
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
    const nlohmann::json before = services();
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
    EXPECT_EQ(services(), before) << "the machine was left pointing at a stopped kernel";
    EXPECT_FALSE(QFile::exists(AppPaths::proxyBackup()));
    EXPECT_FALSE(Peer::core(m).isRunning());

    // Nothing that touches the system proxy starts once quitting has begun.
    await(m.connect());
    await(m.repairNetworkSettings());
    EXPECT_FALSE(Peer::core(m).isRunning());
    EXPECT_FALSE(m.isBusy());
    EXPECT_EQ(services(), before);
}

} // namespace
