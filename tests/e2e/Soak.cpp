#include "Scenarios.h"

#include "AppModel.h"
#include "VeyraNetworkAssistantApp.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <QWidget>

namespace veyra::e2e {

namespace {

constexpr qint64 minuteMs = 60'000;
// Each download is a minute's worth at the steady rate, so one ends and the next starts about
// once a minute and every failure is seen on its own.
constexpr qint64 rateBytesPerSecond = 1'000'000;
constexpr qint64 downloadBytes = rateBytesPerSecond * 60;

// A model operation as a task with a result, for `finish`.
QCoro::Task<bool> completed(QCoro::Task<> operation)
{
    co_await std::move(operation);
    co_return true;
}

} // namespace

void Soak::run()
{
    const int minutes = std::max(1, m_options.count);
    if (!waitForStartUp() || !check(model().membershipActive(), QStringLiteral("signed in as a member"))
        || !connectLine()) {
        quit();
        return;
    }
    window()->close();
    waitFor(QStringLiteral("the window to close"), [&] { return !m_app.mainWindow(); }, 5'000);
    say(QStringLiteral("soak: connected, window closed, %1 minutes").arg(minutes));

    int downloads = 0, failedDownloads = 0, latencyTests = 0, nodeChanges = 0, windowCycles = 0;
    QProcess curl;
    const auto startDownload = [&] {
        curl.start(QStringLiteral("curl"),
            { QStringLiteral("-sS"), QStringLiteral("-o"), QStringLiteral("/dev/null"), QStringLiteral("--limit-rate"),
                QString::number(rateBytesPerSecond), QStringLiteral("--max-time"), QStringLiteral("90"),
                QStringLiteral("-w"), QStringLiteral("%{size_download}"), QStringLiteral("-x"),
                QStringLiteral("http://127.0.0.1:%1").arg(model().settings().mixedPort),
                m_options.siteUrl + QStringLiteral("bytes/%1").arg(downloadBytes) });
    };
    const auto downloadEnded = [&] {
        ++downloads;
        const QByteArray size = curl.readAllStandardOutput();
        if (curl.exitStatus() != QProcess::NormalExit || curl.exitCode() != 0 || size.toLongLong() != downloadBytes) {
            ++failedDownloads;
            say(QStringLiteral("soak: a download failed (exit %1, %2 of %3 bytes): %4")
                    .arg(curl.exitCode())
                    .arg(QString::fromUtf8(size))
                    .arg(downloadBytes)
                    .arg(QString::fromUtf8(curl.readAllStandardError()).trimmed()));
        }
    };

    QElapsedTimer clock;
    clock.start();
    startDownload();
    // Time passes on an event loop that also restarts the download as it ends.
    const auto passUntil = [&](qint64 elapsedMs) {
        QEventLoop loop;
        QTimer::singleShot(std::max<qint64>(0, elapsedMs - clock.elapsed()), &loop, &QEventLoop::quit);
        const QMetaObject::Connection restart = QObject::connect(&curl, &QProcess::finished, &loop, [&] {
            downloadEnded();
            startDownload();
        });
        loop.exec();
        QObject::disconnect(restart);
    };
    for (int minute = 1; minute <= minutes; ++minute) {
        passUntil(minute * minuteMs);

        if (minute % 5 == 0) {
            finish(completed(model().testAllNodes()), 30'000);
            ++latencyTests;
            say(QStringLiteral("soak: minute %1: latency test of %2 nodes").arg(minute).arg(model().nodes().size()));
        }
        if (minute % 10 == 0) {
            const QString current = model().activeNodeName();
            for (const NodeItem &node : model().nodes())
                if (node.name != current) {
                    finish(completed(model().selectNode(node)), 30'000);
                    break;
                }
            ++nodeChanges;
            say(QStringLiteral("soak: minute %1: node %2 -> %3").arg(minute).arg(current, model().activeNodeName()));
        }
        if (minute % 15 == 0) {
            m_app.showMainWindow();
            waitFor(QStringLiteral("the window"), [&] { return window() && window()->isVisible(); }, 5'000);
            openPage(QStringLiteral("首页"));
            window()->close();
            waitFor(QStringLiteral("the window to close"), [&] { return !m_app.mainWindow(); }, 5'000);
            ++windowCycles;
            say(QStringLiteral("soak: minute %1: window opened and closed").arg(minute));
        }
        say(QStringLiteral("soak: minute %1 done").arg(minute));
    }
    // Half a minute more of the same, while the world takes its last sample.
    passUntil(minutes * minuteMs + minuteMs / 2);
    curl.kill();
    curl.waitForFinished(5'000);
    check(model().isConnected(), QStringLiteral("still connected after %1 minutes").arg(minutes));
    check(failedDownloads == 0,
        QStringLiteral("%1 of %2 downloads through the proxy came through whole").arg(downloads - failedDownloads).arg(downloads));
    say(QStringLiteral("soak: downloads %1 (failed %2), latency tests %3, node changes %4, window cycles %5")
            .arg(downloads)
            .arg(failedDownloads)
            .arg(latencyTests)
            .arg(nodeChanges)
            .arg(windowCycles));
    m_app.showMainWindow();
    waitFor(QStringLiteral("the window"), [&] { return window() && window()->isVisible(); }, 5'000);
    disconnectLine();
    quit();
}

} // namespace veyra::e2e
