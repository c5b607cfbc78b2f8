#include "Scenarios.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>

namespace veyra::e2e {

// Longer than the latest kill the world sends after an operation starts.
constexpr int stayAfterActionMs = 5'000;

void CrashTrial::run()
{
    bool ok = waitForStartUp() && check(model().membershipActive(), u"signed in as a member"_s);
    if (ok && m_options.action != u"connect"_s)
        ok = connectLine();
    const auto started = [&] { say(u"action-start %1"_s.arg(m_options.action)); };
    if (ok) {
        if (m_options.action == u"connect"_s) {
            connectLine(30'000, started);
        } else if (m_options.action == u"disconnect"_s) {
            started();
            disconnectLine();
        } else {
            QAction *repair = nullptr;
            for (QMenu *menu : window()->findChildren<QMenu *>())
                if (QAction *action = test::menuAction(menu, u"修复网络设置…"_s))
                    repair = action;
            started();
            if (check(repair && repair->isEnabled(), u"the menu offers \"修复网络设置…\""_s))
                repair->trigger();
            waitForStatus(u"网络设置修复完成"_s, 15'000);
        }
        say(u"action-end %1"_s.arg(m_options.action));
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
        say(u"started: %1"_s.arg(model().statusMessage()));
        check(askWorld(u"started"_s), u"the world recorded the settings"_s);
    }
    quit();
}

void KernelKills::run()
{
    const bool ready = waitForStartUp() && check(model().membershipActive(), u"signed in as a member"_s);
    QList<qint64> times;
    for (int round = 1; ready && round <= m_options.count; ++round) {
        const std::optional<qint64> elapsed = killKernelWhileConnected();
        if (!elapsed)
            break;
        times << *elapsed;
        say(u"round %1: restored %2 ms after the kill"_s.arg(round).arg(*elapsed));
        waitFor(u"the alert"_s, 5'000, [&] { return shownButton(u"知道了"_s) != nullptr; });
        click(u"知道了"_s);
        waitFor(u"the model to settle"_s, 5'000, [&] { return !model().isBusy() && !model().isConnected(); });
    }
    if (!times.isEmpty()) {
        std::sort(times.begin(), times.end());
        say(u"kernel kills %1, restore median %2 ms, max %3 ms"_s.arg(times.size())
                .arg(times.at(times.size() / 2))
                .arg(times.last()));
    }
    check(times.size() == m_options.count, u"%1 of %2 rounds restored"_s.arg(times.size()).arg(m_options.count));
    quit();
}

} // namespace veyra::e2e
