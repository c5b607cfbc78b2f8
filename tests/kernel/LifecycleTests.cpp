#include "AppPaths.h"
#include "Errors.h"
#include "KernelTestSupport.h"
#include "MihomoManager.h"
#include "TestSupport.h"

#include <QCoroTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTcpServer>
#include <QTimer>

namespace veyra {
namespace {

using namespace veyra::test;

ProviderSource unusedSource()
{
    return { QStringLiteral("veyra_official"), QStringLiteral("http://127.0.0.1:9/sub"), QStringLiteral("ua"),
        QStringLiteral("device"), 3600 };
}

// Process start and stop against kernels that misbehave on purpose.
class LifecycleIntegration : public DataFolderTest {
protected:
    void SetUp() override
    {
        DataFolderTest::SetUp();
        resources = m_dir.path() + QStringLiteral("/Resources");
        settings = settingsWithFreePorts();
    }

    QString startFailure(MihomoManager &manager) { return errorText(manager.start(unusedSource(), settings)); }

    // The failure of a start, and the kernel's process id while it ran (0 if never seen).
    std::pair<QString, qint64> startWatchingThePid(MihomoManager &manager)
    {
        qint64 pid = 0;
        QTimer watch;
        watch.setInterval(1);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (pid == 0)
                pid = manager.processId();
        });
        watch.start();
        const QString failure = startFailure(manager);
        return { failure, pid };
    }

    QString resources;
    AppSettings settings;
};

TEST_F(LifecycleIntegration, ATakenPortIsNamedBeforeAnyConfigurationIsWritten)
{
    MihomoManager manager({}, { bundledKernelDirectory() });
    QTcpServer squatter;
    ASSERT_TRUE(squatter.listen(QHostAddress::LocalHost, static_cast<quint16>(settings.mixedPort)));
    EXPECT_EQ(startFailure(manager), QStringLiteral("混合代理端口 %1 已被其他程序占用。").arg(settings.mixedPort));
    EXPECT_FALSE(QFileInfo::exists(AppPaths::config()));
    squatter.close();

    ASSERT_TRUE(squatter.listen(QHostAddress::LocalHost, static_cast<quint16>(settings.socksPort)));
    EXPECT_EQ(startFailure(manager), QStringLiteral("SOCKS5端口 %1 已被其他程序占用。").arg(settings.socksPort));
    squatter.close();

    ASSERT_TRUE(squatter.listen(QHostAddress::LocalHost, static_cast<quint16>(settings.controllerPort)));
    EXPECT_EQ(startFailure(manager), QStringLiteral("控制端口 %1 已被其他程序占用。").arg(settings.controllerPort));
    EXPECT_FALSE(QFileInfo::exists(AppPaths::config()));
    EXPECT_FALSE(manager.isRunning());
}

TEST_F(LifecycleIntegration, AFailedCheckShowsTheKernelOutputRedacted)
{
    // Far more output than a pipe holds, so a reader that only drains after exit would hang.
    installScriptResource(resources,
        "#!/bin/sh\n"
        "if [ \"$1\" = \"-t\" ]; then\n"
        "  i=0; while [ $i -lt 3000 ]; do echo \"line $i of a long and chatty configuration check\"; i=$((i+1)); done\n"
        "  echo 'password=hunter2 token=abc123 Authorization: Bearer sekrit subscription=https://sub.example/x' >&2\n"
        "  exit 1\n"
        "fi\n"
        "exit 0\n");
    MihomoManager manager({}, { resources });
    const QString failure = startFailure(manager);
    EXPECT_TRUE(failure.startsWith(QStringLiteral("线路配置未通过 Mihomo 检查：line 0 of a long")))
        << failure.left(80).toStdString();
    EXPECT_TRUE(failure.contains(QStringLiteral("password=***")));
    EXPECT_TRUE(failure.contains(QStringLiteral("token=***")));
    EXPECT_TRUE(failure.contains(QStringLiteral("subscription=***")));
    for (const char *secret : { "hunter2", "abc123", "sekrit", "sub.example" })
        EXPECT_FALSE(failure.contains(QString::fromLatin1(secret))) << secret;
    EXPECT_FALSE(manager.isRunning());
    // The configuration was written owner-only before the check ran.
    EXPECT_EQ(modeOf(AppPaths::config()), 0600);
}

TEST_F(LifecycleIntegration, AKernelThatExitsAtOnceTimesOutWithoutAStrayProcess)
{
    installScriptResource(resources, "#!/bin/sh\n[ \"$1\" = \"-t\" ] && exit 0\necho dying; exit 3\n");
    MihomoManager manager({}, { resources });
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(startFailure(manager), QStringLiteral("Mihomo 控制端口启动超时。"));
    EXPECT_LT(clock.elapsed(), 5000) << "a dead kernel must not be waited for the full ten seconds";
    EXPECT_FALSE(manager.isRunning());
    EXPECT_EQ(manager.processId(), 0);
    EXPECT_TRUE(readBytes(AppPaths::logs() + QStringLiteral("/mihomo-current.log")).contains("dying"));
    EXPECT_EQ(modeOf(AppPaths::logs() + QStringLiteral("/mihomo-current.log")), 0600);
}

TEST_F(LifecycleIntegration, AKernelWhoseControllerNeverOpensIsGivenTenSecondsAndThenAskedToEnd)
{
    // Fifty refused probes with a fifth of a second after each: about ten seconds, not the
    // minute it would take if every refused probe sat out its own time-out.
    installScriptResource(resources,
        "#!/bin/sh\n"
        "[ \"$1\" = \"-t\" ] && exit 0\n"
        "trap 'echo asked to end; exit 0' TERM\n"
        "while :; do sleep 0.05; done\n");
    MihomoManager manager({}, { resources });
    QElapsedTimer clock;
    clock.start();
    const auto [failure, pid] = startWatchingThePid(manager);
    const qint64 elapsed = clock.elapsed();

    EXPECT_EQ(failure, QStringLiteral("Mihomo 控制端口启动超时。"));
    EXPECT_GE(elapsed, 9800);
    EXPECT_LT(elapsed, 14000);
    EXPECT_FALSE(manager.isRunning());
    ASSERT_NE(pid, 0);
    EXPECT_FALSE(processAlive(pid));
    // Ended with SIGTERM first, the way a stop ends it, rather than killed outright.
    EXPECT_TRUE(readBytes(AppPaths::logs() + QStringLiteral("/mihomo-current.log")).contains("asked to end"));
}

// A controller that answers only once the kernel has gone: it stands in for a controller
// the dying kernel left behind (a child still holding the port, say). Waiting for the end
// here, instead of racing a listener against the kernel's exit, makes the order certain.
class ControllerAnsweringAfterTheKernelEnded : public MihomoManager {
public:
    using MihomoManager::MihomoManager;
    bool answered = false;

protected:
    QCoro::Task<bool> controllerAnswers(qint64) override
    {
        for (int i = 0; i < 1000 && isRunning(); ++i)
            co_await QCoro::sleepFor(std::chrono::milliseconds(5));
        answered = !isRunning();
        co_return true;
    }
};

TEST_F(LifecycleIntegration, AKernelGoneRightAfterItsControllerAnsweredIsReported)
{
    installScriptResource(resources,
        "#!/bin/sh\n"
        "[ \"$1\" = \"-t\" ] && exit 0\n"
        "echo 'starting, then gone'\n"
        "exec sleep 0.1\n");
    ControllerAnsweringAfterTheKernelEnded manager({}, { resources });
    const auto [failure, pid] = startWatchingThePid(manager);

    ASSERT_TRUE(manager.answered) << "the kernel never ended";
    EXPECT_EQ(failure, QStringLiteral("Mihomo 启动后立即退出，请查看诊断日志。"));
    ASSERT_NE(pid, 0) << "the kernel was never seen running";
    EXPECT_EQ(manager.processId(), 0);
    EXPECT_FALSE(processAlive(pid));
    EXPECT_TRUE(readBytes(AppPaths::logs() + QStringLiteral("/mihomo-current.log")).contains("starting, then gone"));
    EXPECT_TRUE(diagnosticLog().contains(QStringLiteral("Mihomo 已退出，状态码 0。")));
}

TEST_F(LifecycleIntegration, AKernelIgnoringSigtermIsKilledAfterAboutTwoAndAHalfSeconds)
{
    installResource(resources, stubbornKernel());
    MihomoManager manager({}, { resources });
    await(manager.start(unusedSource(), settings));
    ASSERT_TRUE(manager.isRunning());
    const qint64 pid = manager.processId();
    ASSERT_TRUE(processAlive(pid));

    QElapsedTimer clock;
    clock.start();
    await(manager.stop(false));
    const qint64 elapsed = clock.elapsed();
    EXPECT_GE(elapsed, 2400);
    EXPECT_LT(elapsed, 4500);
    EXPECT_FALSE(manager.isRunning());
    EXPECT_FALSE(processAlive(pid));
    // stop(false) keeps the configuration for the next start.
    EXPECT_TRUE(QFileInfo::exists(AppPaths::config()));
    for (int i = 0; i < 50 && !diagnosticLog().contains(QStringLiteral("Mihomo 已退出，状态码 9。")); ++i)
        await(QCoro::sleepFor(std::chrono::milliseconds(20)));
    EXPECT_TRUE(diagnosticLog().contains(QStringLiteral("Mihomo 已退出，状态码 9。")));
}

TEST_F(LifecycleIntegration, StoppingAnIdleManagerOnlyRemovesTheConfiguration)
{
    MihomoManager manager({}, { bundledKernelDirectory() });
    await(manager.stop(false));
    AppPaths::prepare();
    writeBytes(AppPaths::config(), "left over");
    await(manager.stop(false));
    EXPECT_TRUE(QFileInfo::exists(AppPaths::config()));
    await(manager.stop(true));
    EXPECT_FALSE(QFileInfo::exists(AppPaths::config()));
    await(manager.stop(true));
}

} // namespace
} // namespace veyra
