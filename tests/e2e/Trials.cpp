#include "Scenarios.h"

#include "AppModel.h"
#include "MainWindow.h"
#include "UiTestSupport.h"
#include "VeyraNetworkAssistantApp.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QMenu>
#include <QMenuBar>

#include <algorithm>
#include <csignal>

namespace veyra::e2e {

namespace {

// Longer than the latest kill the world sends after an operation starts.
constexpr int stayAfterActionMs = 5'000;

} // namespace

void CrashTrial::run()
{
    bool ok = waitForStartUp()
        && check(model().membershipActive(), QStringLiteral("signed in as a member"));
    if (ok && m_options.action != QStringLiteral("connect"))
        ok = connectLine();
    const auto started = [&] { say(QStringLiteral("action-start %1").arg(m_options.action)); };
    if (ok) {
        if (m_options.action == QStringLiteral("connect")) {
            connectLine(30'000, started);
        } else if (m_options.action == QStringLiteral("disconnect")) {
            started();
            disconnectLine();
        } else {
            QAction *repair = nullptr;
            for (QMenu *menu : window()->findChildren<QMenu *>())
                if (QAction *action = test::menuAction(menu, QStringLiteral("修复网络设置…")))
                    repair = action;
            started();
            if (check(repair && repair->isEnabled(), QStringLiteral("the menu offers \"修复网络设置…\"")))
                repair->trigger();
            waitFor(QStringLiteral("\"网络设置修复完成\""),
                [&] { return !model().isBusy() && model().statusMessage() == QStringLiteral("网络设置修复完成"); }, 15'000);
        }
        say(QStringLiteral("action-end %1").arg(m_options.action));
        // The application stays as the operation left it (connected, say) until the kill, which
        // comes within the world's limit, so that a kill after the operation finds that state
        // rather than a quit already putting the settings back.
        QEventLoop stay;
        QTimer::singleShot(stayAfterActionMs, &stay, &QEventLoop::quit);
        stay.exec();
    }
    quit();
}

void StartAfterCrash::run()
{
    bool ok = waitForStartUp();
    if (ok && m_options.signInFirst)
        ok = signIn();
    if (ok) {
        say(QStringLiteral("started: %1").arg(model().statusMessage()));
        check(askWorld(QStringLiteral("started")), QStringLiteral("the world recorded the settings"));
    }
    quit();
}

void KernelKills::run()
{
    const bool ready = waitForStartUp()
        && check(model().membershipActive(), QStringLiteral("signed in as a member"));
    QList<qint64> times;
    for (int round = 1; ready && round <= m_options.count; ++round) {
        const QByteArray before = readSettings();
        if (!connectLine())
            break;
        const qint64 pid = kernelPid();
        if (!check(pid > 0, QStringLiteral("the kernel runs")))
            break;
        QElapsedTimer clock;
        clock.start();
        ::kill(static_cast<pid_t>(pid), SIGKILL);
        if (!waitFor(QStringLiteral("the settings restored"), [&] { return settingsRestored(before, readSettings()); }, 10'000))
            break;
        times << clock.elapsed();
        say(QStringLiteral("round %1: restored %2 ms after the kill").arg(round).arg(times.last()));
        waitFor(QStringLiteral("the alert"), [&] { return shownButton(QStringLiteral("知道了")) != nullptr; }, 5'000);
        click(QStringLiteral("知道了"));
        waitFor(QStringLiteral("the model to settle"), [&] { return !model().isBusy() && !model().isConnected(); }, 5'000);
    }
    if (!times.isEmpty()) {
        std::sort(times.begin(), times.end());
        say(QStringLiteral("kernel kills %1, restore median %2 ms, max %3 ms")
                .arg(times.size())
                .arg(times.at(times.size() / 2))
                .arg(times.last()));
    }
    check(times.size() == m_options.count, QStringLiteral("%1 of %2 rounds restored").arg(times.size()).arg(m_options.count));
    quit();
}

} // namespace veyra::e2e
