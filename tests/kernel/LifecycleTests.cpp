#include "AppPaths.h"
#include "KernelTestSupport.h"
#include "MihomoManager.h"

#include <QCoroTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTcpServer>
#include <QTimer>

namespace veyra {
namespace {

using namespace veyra::test;
using namespace std::chrono_literals;

// The manager with its controller probe decided by the test, which real scheduling cannot pin
// down: never open (a closed port could be taken by another test within the ten seconds), open,
// or open only once the kernel has gone (a controller the dying kernel left behind).
class SeamedManager : public MihomoManager {
public:
    enum class Controller { never, open, afterTheKernelEnded };
    SeamedManager(const QString &resources, Controller controller)
        : MihomoManager({}, { resources })
        , m_controller(controller)
    {
    }
    bool answeredAfterTheEnd = false;

protected:
    QCoro::Task<bool> controllerAnswers(qint64) override
    {
        for (int i = 0; m_controller == Controller::afterTheKernelEnded && i < 1000 && isRunning(); ++i)
            co_await QCoro::sleepFor(5ms);
        answeredAfterTheEnd = !isRunning();
        co_return m_controller != Controller::never;
    }

private:
    Controller m_controller;
};

// Process start and stop against kernels that misbehave on purpose.
class LifecycleIntegration : public DataFolderTest {
protected:
    void SetUp() override
    {
        DataFolderTest::SetUp();
        resources = m_dir.path() + QStringLiteral("/Resources");
        settings = settingsWithFreePorts();
    }

    // A kernel whose configuration check passes and whose run is `body`.
    void installKernel(const QByteArray &body)
    {
        installScriptResource(resources, "#!/bin/sh\n[ \"$1\" = \"-t\" ] && exit 0\n" + body);
    }
    QCoro::Task<void> start(MihomoManager &manager)
    {
        return manager.start({ QStringLiteral("veyra_official"), QStringLiteral("http://127.0.0.1:9/sub"),
                                 QStringLiteral("ua"), QStringLiteral("device"), 3600 },
            settings);
    }
    // The failure of a start, and the kernel's process id while it ran (0 if never seen).
    std::pair<QString, qint64> startWatchingThePid(MihomoManager &manager)
    {
        qint64 pid = 0;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] { pid = pid ? pid : manager.processId(); });
        watch.start(1);
        return { errorText(start(manager)), pid };
    }
    QByteArray kernelLog() const { return readBytes(AppPaths::logs() + QStringLiteral("/mihomo-current.log")); }

    QString resources;
    AppSettings settings;
};

TEST_F(LifecycleIntegration, ATakenPortIsNamedBeforeAnyConfigurationIsWritten)
{
    MihomoManager manager({}, { bundledKernelDirectory() });
    const std::pair<qint64, QString> ports[] = { { settings.mixedPort, QStringLiteral("混合代理端口") },
        { settings.socksPort, QStringLiteral("SOCKS5端口") }, { settings.controllerPort, QStringLiteral("控制端口") } };
    for (const auto &[port, name] : ports) {
        QTcpServer squatter;
        ASSERT_TRUE(squatter.listen(QHostAddress::LocalHost, static_cast<quint16>(port)));
        EXPECT_EQ(errorText(start(manager)), QStringLiteral("%1 %2 已被其他程序占用。").arg(name).arg(port));
        EXPECT_FALSE(QFileInfo::exists(AppPaths::config())) << name.toStdString();
        EXPECT_FALSE(manager.isRunning());
    }

    // Stopping an idle manager removes only the configuration, and only when asked to.
    AppPaths::prepare();
    writeBytes(AppPaths::config(), "left over");
    await(manager.stop(false));
    EXPECT_TRUE(QFileInfo::exists(AppPaths::config()));
    await(manager.stop(true));
    EXPECT_FALSE(QFileInfo::exists(AppPaths::config()));
    await(manager.stop(true));
}

TEST_F(LifecycleIntegration, AFailedCheckShowsTheKernelOutputRedacted)
{
    // Far more output than a pipe holds, so a reader that only drains after exit would hang.
    installScriptResource(resources,
        "#!/bin/sh\n"
        "i=0; while [ $i -lt 3000 ]; do echo \"line $i of a long and chatty configuration check\"; i=$((i+1)); done\n"
        "echo 'password=hunter2 token=abc123 Authorization: Bearer sekrit subscription=https://sub.example/x' >&2\n"
        "exit 1\n");
    MihomoManager manager({}, { resources });
    const QString failure = errorText(start(manager));
    EXPECT_TRUE(failure.startsWith(QStringLiteral("线路配置未通过 Mihomo 检查：line 0 of a long")))
        << failure.left(80).toStdString();
    for (const char *kept : { "password=***", "token=***", "subscription=***" })
        EXPECT_TRUE(failure.contains(QLatin1String(kept))) << kept;
    for (const char *secret : { "hunter2", "abc123", "sekrit", "sub.example" })
        EXPECT_FALSE(failure.contains(QLatin1String(secret))) << secret;
    EXPECT_FALSE(manager.isRunning());
    EXPECT_EQ(modeOf(AppPaths::config()), 0600) << "written owner-only before the check ran";
}

// A kernel that is gone at once is not waited for; one whose controller never opens is given ten
// seconds and then asked to end the way a stop ends it; one gone right after its controller
// answered is reported as such. None is left running, and its output stays in its owner-only log.
TEST_F(LifecycleIntegration, AKernelThatNeverServesIsReportedWithoutAStrayProcess)
{
    using enum SeamedManager::Controller;
    const struct {
        const char *name;
        QByteArray body;
        SeamedManager::Controller controller;
        const char *failure;
        const char *logged;
        int exitCode, atLeastMs, belowMs;
    } cases[] = {
        { "exits at once", "echo dying; exit 3\n", never, "Mihomo 控制端口启动超时。", "dying", 3, 0, 5000 },
        { "no controller", "trap 'echo asked to end; exit 5' TERM\nwhile :; do sleep 0.05; done\n", never,
            "Mihomo 控制端口启动超时。", "asked to end", 5, 9800, 14000 },
        { "gone after answering", "echo 'starting, then gone'\nexec sleep 0.1\n", afterTheKernelEnded,
            "Mihomo 启动后立即退出，请查看诊断日志。", "starting, then gone", 0, 0, 5000 },
    };
    for (const auto &c : cases) {
        installKernel(c.body);
        SeamedManager manager(resources, c.controller);
        QElapsedTimer clock;
        clock.start();
        const auto [failure, pid] = startWatchingThePid(manager);
        EXPECT_EQ(failure, QString::fromUtf8(c.failure)) << c.name;
        EXPECT_GE(clock.elapsed(), c.atLeastMs) << c.name;
        EXPECT_LT(clock.elapsed(), c.belowMs) << c.name;
        ASSERT_TRUE(c.controller != afterTheKernelEnded || manager.answeredAfterTheEnd) << "the kernel never ended";
        EXPECT_FALSE(manager.isRunning()) << c.name;
        EXPECT_EQ(manager.processId(), 0) << c.name;
        EXPECT_FALSE(processAlive(pid)) << c.name;
        EXPECT_TRUE(kernelLog().contains(c.logged)) << c.name;
        EXPECT_EQ(modeOf(AppPaths::logs() + QStringLiteral("/mihomo-current.log")), 0600) << c.name;
        const QString exited = QStringLiteral("Mihomo 已退出，状态码 %1。").arg(c.exitCode);
        EXPECT_TRUE(eventually([&] { return diagnosticLog().contains(exited); })) << c.name;
    }
}

TEST_F(LifecycleIntegration, AKernelIgnoringSigtermIsKilledAfterAboutTwoAndAHalfSeconds)
{
    installKernel("trap '' TERM\nwhile :; do sleep 0.05; done\n");
    SeamedManager manager(resources, SeamedManager::Controller::open);
    await(start(manager));
    const qint64 pid = manager.processId();
    ASSERT_TRUE(processAlive(pid));
    QElapsedTimer clock;
    clock.start();
    await(manager.stop(false));
    EXPECT_GE(clock.elapsed(), 2400);
    EXPECT_LT(clock.elapsed(), 4500);
    EXPECT_FALSE(manager.isRunning());
    EXPECT_FALSE(processAlive(pid));
    EXPECT_TRUE(QFileInfo::exists(AppPaths::config())) << "stop(false) keeps the configuration for the next start";
    EXPECT_TRUE(eventually([] { return diagnosticLog().contains(QStringLiteral("Mihomo 已退出，状态码 9。")); }));
}

// A stop() that arrives while start() is suspended wins at every suspension point: the start
// ends with an error, nothing is launched after the stop, and no kernel is left running. Once
// the start has ended nothing of it runs on, so the marks are read at once.
TEST_F(LifecycleIntegration, AStopDuringAStartWinsAtEverySuspensionPoint)
{
    const QString marks = m_dir.path() + QStringLiteral("/marks.");
    const auto marked = [&](const char *what) { return QFileInfo::exists(marks + QLatin1String(what)); };
    // The kernel notes each of its runs: "checked" by the test run, "launched" by the real one.
    installScriptResource(resources,
        "#!/bin/sh\nif [ \"$1\" = \"-t\" ]; then echo > '" + marks.toUtf8() + "checked'; sleep 1; exit 0; fi\n"
            + "echo $$ > '" + marks.toUtf8() + "launched'\nwhile :; do sleep 0.05; done\n");
    const struct {
        const char *name;
        const char *reached; // nullptr: at once, while the kernel is verified and installed
        bool checked, launched;
    } points[] = {
        { "during the installation", nullptr, false, false },
        { "during the test run", "checked", true, false },
        { "while waiting for the controller", "launched", true, true },
    };
    for (const auto &point : points) {
        QFile::remove(marks + QStringLiteral("checked"));
        QFile::remove(marks + QStringLiteral("launched"));
        MihomoManager manager({}, { resources });
        std::optional<QString> failure;
        auto starting = [&]() -> QCoro::Task<> {
            try {
                co_await start(manager);
                failure = QStringLiteral("<started>");
            } catch (const Error &error) {
                failure = error.description();
            }
        };
        QCoro::Task<> task = starting();
        ASSERT_TRUE(eventually([&] { return !point.reached || marked(point.reached); })) << point.name;
        await(manager.stop(true));
        ASSERT_TRUE(eventually([&] { return failure.has_value(); })) << point.name << ": the start did not end";
        EXPECT_EQ(failure->toStdString(), "Mihomo 启动已被停止。") << point.name;
        EXPECT_EQ(manager.processId(), 0) << point.name;
        EXPECT_FALSE(manager.isRunning()) << point.name;
        EXPECT_EQ(marked("checked"), point.checked) << point.name;
        EXPECT_EQ(marked("launched"), point.launched) << point.name;
        if (marked("launched")) {
            EXPECT_FALSE(processAlive(readBytes(marks + QStringLiteral("launched")).trimmed().toLongLong()))
                << point.name << ": a kernel outlived the stop";
        }
        await(std::move(task));
    }
}

} // namespace
} // namespace veyra
