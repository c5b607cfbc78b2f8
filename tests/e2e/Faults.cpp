#include "Scenarios.h"

#include "KeychainStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>

#include <csignal>
#include <unistd.h>

namespace veyra::e2e {

namespace {

bool alertShows(QWidget *window, const QString &text)
{
    for (auto *box : window ? window->findChildren<QMessageBox *>() : QList<QMessageBox *> {})
        if (box->isVisible() && box->text().contains(text))
            return true;
    return false;
}

bool stored(const char *account)
{
    return KeychainStore().load(QString::fromLatin1(account)).has_value();
}

// The pid of the kernel the application runs (its child named after the kernel), or 0.
qint64 kernelPid()
{
    const QString self = QString::number(::getpid());
    for (const QString &entry : QDir(u"/proc"_s).entryList(QDir::Dirs)) {
        QFile stat(u"/proc/%1/stat"_s.arg(entry));
        if (!entry.front().isDigit() || !stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (comm) state ppid ...": the name may hold spaces, so read from the last ')'.
        const QByteArray line = stat.readAll();
        const qsizetype close = line.lastIndexOf(')');
        const QByteArray name = line.mid(line.indexOf('(') + 1, close - line.indexOf('(') - 1);
        const QList<QByteArray> rest = line.mid(close + 2).split(' ');
        if (name == "mihomo" && rest.size() > 1 && rest.at(1) == self.toLatin1())
            return entry.toLongLong();
    }
    return 0;
}

} // namespace

std::optional<qint64> Driver::killKernelWhileConnected()
{
    const QByteArray before = readSettings();
    if (!connectLine())
        return std::nullopt;
    const qint64 pid = kernelPid();
    if (!check(pid > 0, u"the kernel runs as pid %1"_s.arg(pid)))
        return std::nullopt;
    QElapsedTimer clock;
    clock.start();
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    if (!waitFor(u"the settings restored after the kernel's death"_s, 10'000,
            [&] { return m_settings.restored(before, readSettings()); }))
        return std::nullopt;
    return clock.elapsed();
}

void Faults::run()
{
    if (waitForStartUp() && signIn() && check(model().membershipActive(), u"the account is a member"_s)) {
        // Each case ends where the next can start; one that fails leaves the rest to run.
        lineFailsItsCheck();
        kernelKilledWhileConnected();
        serviceGoneDuringRefresh();
        helperStopped();
        sessionEndedByService();
    }
    quit();
}

void Faults::connectFailsLeavingSettingsAlone(const QString &screenshot)
{
    const QByteArray before = readSettings();
    if (!openPage(u"首页"_s) || !click(u"智能连接"_s))
        return;
    waitForStatus(u"连接失败"_s, 40'000);
    shot(screenshot);
    check(
        !model().isConnected() && !model().isCoreRunning() && kernelPid() == 0, u"not connected, the kernel stopped"_s);
    check(readSettings() == before, u"the system proxy settings were never touched"_s);
}

void Faults::lineFailsItsCheck()
{
    say(u"-- the line fails its check: every node is down"_s);
    if (!check(askWorld(u"nodes-down"_s), u"the world took the nodes down"_s))
        return;
    connectFailsLeavingSettingsAlone(u"line-check-failed"_s);
    check(alertShows(window(), u"官方线路尚未连通，未修改系统代理"_s),
        u"the alert says the line is not through and nothing was changed"_s);
    click(u"知道了"_s);
    check(askWorld(u"nodes-up"_s), u"the world brought the nodes back"_s);
}

void Faults::kernelKilledWhileConnected()
{
    say(u"-- the kernel is killed while connected"_s);
    const std::optional<qint64> elapsed = killKernelWhileConnected();
    if (!elapsed)
        return;
    check(*elapsed <= 2'500, u"restored %1 ms after the kill (at most 2500)"_s.arg(*elapsed));
    waitFor(u"the alert"_s, 5'000,
        [&] { return alertShows(window(), u"网络核心已异常退出，应用已自动恢复系统网络设置。"_s); });
    shot(u"kernel-died"_s);
    check(!model().isConnected() && model().statusMessage() == u"网络核心异常退出，系统代理已自动恢复"_s,
        u"status: %1"_s.arg(model().statusMessage()));
    click(u"知道了"_s);
}

void Faults::serviceGoneDuringRefresh()
{
    say(u"-- the service goes away during a refresh"_s);
    if (!openPage(u"会员"_s) || !check(askWorld(u"service-down"_s), u"the world took the service away"_s))
        return;
    click(u"刷新权益"_s);
    waitForStatus(u"登录状态已保留，会员权益等待网络恢复后同步"_s, 40'000);
    shot(u"service-gone"_s);
    check(model().user() && model().membershipActive() && model().officialLineReady(),
        u"still signed in as a member, the line kept"_s);
    check(stored(KeychainStore::sessionAccount), u"the session token is still stored"_s);
    if (shownButton(u"知道了"_s))
        click(u"知道了"_s);
    check(askWorld(u"service-up"_s), u"the world brought the service back"_s);
}

void Faults::helperStopped()
{
    say(u"-- the helper is stopped"_s);
    if (!check(askWorld(u"helper-stop"_s), u"the world stopped the helper"_s))
        return;
    connectFailsLeavingSettingsAlone(u"helper-stopped"_s);
    check(shownButton(u"知道了"_s) != nullptr, u"an alert explains the failure"_s);
    click(u"知道了"_s);
}

void Faults::sessionEndedByService()
{
    say(u"-- the service ends the session (401)"_s);
    if (!check(askWorld(u"revoke-tokens"_s), u"the service revoked the account's tokens"_s) || !openPage(u"会员"_s)
        || !click(u"刷新权益"_s))
        return;
    // Signing out ends with the sign-in sheet; the user goes first.
    const bool out = waitFor(
        u"signed out"_s, 20'000, [&] { return !model().user() && model().showAuthentication() && !model().isBusy(); });
    shot(u"session-ended"_s);
    if (out)
        check(!model().officialLineReady(), u"the official line is gone"_s);
    check(!stored(KeychainStore::sessionAccount) && !stored(KeychainStore::officialLineAccount),
        u"the session token and the line are deleted from the keyring"_s);
    check(model().authenticationMode() == AuthenticationMode::login && model().statusMessage() == u"需要重新登录"_s
            && alertShows(window(), u"登录状态已过期，请重新登录。"_s),
        u"the sign-in sheet asks to sign in again: \"需要重新登录\", with the alert"_s);
}

} // namespace veyra::e2e
