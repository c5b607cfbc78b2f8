#include "AppPaths.h"
#include "Errors.h"
#include "KernelTestSupport.h"
#include "MihomoManager.h"
#include "TestSupport.h"

#include <QCoroTimer>
#include <QFileInfo>

#include <functional>

namespace veyra {
namespace {

using namespace veyra::test;
using namespace std::chrono_literals;

// A stop() that arrives while start() is suspended wins at every suspension point: the start
// ends with an error, nothing is launched after the stop, and no kernel is left running.
class StartInterruptionIntegration : public DataFolderTest {
protected:
    void SetUp() override
    {
        DataFolderTest::SetUp();
        resources = m_dir.path() + QStringLiteral("/Resources");
        marks = m_dir.path() + QStringLiteral("/marks");
        // The kernel notes each of its runs: "checked" by the test run, "launched" by the real one.
        installScriptResource(resources,
            "#!/bin/sh\n"
            "if [ \"$1\" = \"-t\" ]; then echo > '"
                + marks.toUtf8()
                + ".checked'; sleep 1; exit 0; fi\n"
                  "echo $$ > '"
                + marks.toUtf8()
                + ".launched'\n"
                  "while :; do sleep 0.05; done\n");
    }

    bool marked(const char *what) const { return QFileInfo::exists(marks + QLatin1Char('.') + QLatin1String(what)); }

    // Starts in the background and stops once `reached` holds.
    void stopWhen(const std::function<bool()> &reached)
    {
        MihomoManager manager({}, { resources });
        bool finished = false;
        QString failure;
        const ProviderSource source { QStringLiteral("veyra_official"), QStringLiteral("http://127.0.0.1:9/sub"),
            QStringLiteral("ua"), QStringLiteral("device"), 3600 };
        const AppSettings settings = settingsWithFreePorts();
        auto starting = [&]() -> QCoro::Task<> {
            try {
                co_await manager.start(source, settings);
                failure = QStringLiteral("<started>");
            } catch (const Error &error) {
                failure = error.description();
            }
            finished = true;
        };
        QCoro::Task<> task = starting();
        ASSERT_TRUE(eventually(reached)) << "the start never reached the point of interruption";
        await(manager.stop(true));
        ASSERT_TRUE(eventually([&] { return finished; })) << "the start did not end after the stop";
        EXPECT_EQ(failure.toStdString(), "Mihomo 启动已被停止。");
        EXPECT_FALSE(manager.isRunning());
        EXPECT_EQ(manager.processId(), 0);
        // Long enough for a start that ignored the stop to have launched its kernel.
        await(QCoro::sleepFor(1500ms));
        EXPECT_FALSE(manager.isRunning());
        if (marked("launched")) {
            const qint64 pid = readBytes(marks + QStringLiteral(".launched")).trimmed().toLongLong();
            EXPECT_FALSE(processAlive(pid)) << "a kernel outlived the stop";
        }
        await(std::move(task));
    }

    QString resources;
    QString marks;
};

TEST_F(StartInterruptionIntegration, AStopDuringInstallationLeavesNothingToRun)
{
    // The start is suspended while the kernel is verified and installed.
    stopWhen([] { return true; });
    EXPECT_FALSE(marked("checked"));
    EXPECT_FALSE(marked("launched"));
}

TEST_F(StartInterruptionIntegration, AStopDuringTheTestRunKeepsTheKernelFromLaunching)
{
    stopWhen([this] { return marked("checked"); });
    EXPECT_FALSE(marked("launched"));
}

TEST_F(StartInterruptionIntegration, AStopWhileWaitingForTheControllerEndsTheKernel)
{
    stopWhen([this] { return marked("launched"); });
}

} // namespace
} // namespace veyra
