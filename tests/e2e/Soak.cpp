#include "Scenarios.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

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
    if (!waitForStartUp() || !check(model().membershipActive(), u"signed in as a member"_s) || !connectLine()) {
        quit();
        return;
    }
    const auto closeWindow = [&] {
        window()->close();
        waitFor(u"the window to close"_s, 5'000, [&] { return !m_app.mainWindow(); });
    };
    const auto showWindow = [&] {
        m_app.showMainWindow();
        waitFor(u"the window"_s, 5'000, [&] { return window() && window()->isVisible(); });
    };
    closeWindow();
    say(u"soak: connected, window closed, %1 minutes"_s.arg(minutes));

    int downloads = 0, failedDownloads = 0, latencyTests = 0, nodeChanges = 0, windowCycles = 0;
    QProcess curl;
    const auto startDownload = [&] {
        curl.start(u"curl"_s,
            { u"-sS"_s, u"-o"_s, u"/dev/null"_s, u"--limit-rate"_s, QString::number(rateBytesPerSecond),
                u"--max-time"_s, u"90"_s, u"-w"_s, u"%{size_download}"_s, u"-x"_s,
                u"http://127.0.0.1:%1"_s.arg(model().settings().mixedPort),
                m_options.siteUrl + u"bytes/%1"_s.arg(downloadBytes) });
    };
    // A download that ended is counted, its failure reported, and the next one started.
    const auto downloadEnded = [&] {
        ++downloads;
        const QByteArray size = curl.readAllStandardOutput();
        if (curl.exitStatus() != QProcess::NormalExit || curl.exitCode() != 0 || size.toLongLong() != downloadBytes) {
            ++failedDownloads;
            say(u"soak: a download failed (exit %1, %2 of %3 bytes): %4"_s.arg(curl.exitCode())
                    .arg(QString::fromUtf8(size))
                    .arg(downloadBytes)
                    .arg(QString::fromUtf8(curl.readAllStandardError()).trimmed()));
        }
        startDownload();
    };

    QElapsedTimer clock;
    clock.start();
    startDownload();
    // Time passes on an event loop that also restarts the download as it ends.
    const auto passUntil = [&](qint64 elapsedMs) {
        QEventLoop loop;
        QTimer::singleShot(std::max<qint64>(0, elapsedMs - clock.elapsed()), &loop, &QEventLoop::quit);
        const QMetaObject::Connection restart = QObject::connect(&curl, &QProcess::finished, &loop, downloadEnded);
        loop.exec();
        QObject::disconnect(restart);
    };
    for (int minute = 1; minute <= minutes; ++minute) {
        passUntil(minute * minuteMs);
        if (minute % 5 == 0) {
            finish(completed(model().testAllNodes()), 30'000);
            ++latencyTests;
            say(u"soak: minute %1: latency test of %2 nodes"_s.arg(minute).arg(model().nodes().size()));
        }
        if (minute % 10 == 0) {
            const QString current = model().activeNodeName();
            for (const NodeItem &node : model().nodes())
                if (node.name != current) {
                    finish(completed(model().selectNode(node)), 30'000);
                    break;
                }
            ++nodeChanges;
            say(u"soak: minute %1: node %2 -> %3"_s.arg(minute).arg(current, model().activeNodeName()));
        }
        if (minute % 15 == 0) {
            showWindow();
            openPage(u"首页"_s);
            closeWindow();
            ++windowCycles;
            say(u"soak: minute %1: window opened and closed"_s.arg(minute));
        }
        say(u"soak: minute %1 done"_s.arg(minute));
    }
    // Half a minute more of the same, while the world takes its last sample.
    passUntil(minutes * minuteMs + minuteMs / 2);
    curl.kill();
    curl.waitForFinished(5'000);
    check(model().isConnected(), u"still connected after %1 minutes"_s.arg(minutes));
    check(failedDownloads == 0,
        u"%1 of %2 downloads through the proxy came through whole"_s.arg(downloads - failedDownloads).arg(downloads));
    say(u"soak: downloads %1 (failed %2), latency tests %3, node changes %4, window cycles %5"_s.arg(downloads)
            .arg(failedDownloads)
            .arg(latencyTests)
            .arg(nodeChanges)
            .arg(windowCycles));
    showWindow();
    disconnectLine();
    quit();
}

} // namespace veyra::e2e
