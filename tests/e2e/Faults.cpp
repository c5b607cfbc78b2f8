#include "Scenarios.h"

#include "AppModel.h"
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

bool sessionTokenStored() { return KeychainStore().load(QString::fromLatin1(KeychainStore::sessionAccount)).has_value(); }

bool officialLineStored()
{
    return KeychainStore().load(QString::fromLatin1(KeychainStore::officialLineAccount)).has_value();
}

} // namespace

qint64 kernelPid()
{
    const QString self = QString::number(::getpid());
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
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

void Faults::run()
{
    const bool ready = waitForStartUp();
    const bool completed = ready && signIn()
        && check(model().membershipActive(), QStringLiteral("the account is a member"));
    if (completed) {
        // Each case ends where the next can start; one that fails leaves the rest to run.
        lineFailsItsCheck();
        kernelKilledWhileConnected();
        serviceGoneDuringRefresh();
        helperStopped();
        sessionEndedByService();
    }
    quit();
}

bool Faults::connectFailsLeavingSettingsAlone(const QString &screenshot)
{
    const QByteArray before = readSettings();
    if (!openPage(QStringLiteral("首页")) || !click(QStringLiteral("智能连接")))
        return false;
    waitFor(QStringLiteral("\"连接失败\""),
        [&] { return !model().isBusy() && model().statusMessage() == QStringLiteral("连接失败"); }, 40'000);
    shot(screenshot);
    const bool ok = check(!model().isConnected() && !model().isCoreRunning() && kernelPid() == 0,
        QStringLiteral("not connected, the kernel stopped"));
    return check(readSettings() == before, QStringLiteral("the system proxy settings were never touched")) && ok;
}

bool Faults::lineFailsItsCheck()
{
    say(QStringLiteral("-- the line fails its check: every node is down"));
    if (!check(askWorld(QStringLiteral("nodes-down")), QStringLiteral("the world took the nodes down")))
        return false;
    bool ok = connectFailsLeavingSettingsAlone(QStringLiteral("line-check-failed"));
    ok = check(alertShows(window(), QStringLiteral("官方线路尚未连通，未修改系统代理")),
             QStringLiteral("the alert says the line is not through and nothing was changed"))
        && ok;
    click(QStringLiteral("知道了"));
    return check(askWorld(QStringLiteral("nodes-up")), QStringLiteral("the world brought the nodes back")) && ok;
}

bool Faults::kernelKilledWhileConnected()
{
    say(QStringLiteral("-- the kernel is killed while connected"));
    const QByteArray before = readSettings();
    if (!connectLine())
        return false;
    const qint64 pid = kernelPid();
    if (!check(pid > 0, QStringLiteral("the kernel runs as pid %1").arg(pid)))
        return false;
    QElapsedTimer clock;
    clock.start();
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    const bool restored = waitFor(QStringLiteral("the settings restored after the kernel's death"),
        [&] { return settingsRestored(before, readSettings()); }, 10'000);
    const qint64 elapsed = clock.elapsed();
    bool ok = restored && check(elapsed <= 2'500, QStringLiteral("restored %1 ms after the kill (at most 2500)").arg(elapsed));
    ok = waitFor(QStringLiteral("the alert"),
             [&] { return alertShows(window(), QStringLiteral("网络核心已异常退出，应用已自动恢复系统网络设置。")); }, 5'000)
        && ok;
    shot(QStringLiteral("kernel-died"));
    ok = check(!model().isConnected() && model().statusMessage() == QStringLiteral("网络核心异常退出，系统代理已自动恢复"),
             QStringLiteral("status: %1").arg(model().statusMessage()))
        && ok;
    click(QStringLiteral("知道了"));
    return ok;
}

bool Faults::serviceGoneDuringRefresh()
{
    say(QStringLiteral("-- the service goes away during a refresh"));
    if (!openPage(QStringLiteral("会员"))
        || !check(askWorld(QStringLiteral("service-down")), QStringLiteral("the world took the service away")))
        return false;
    click(QStringLiteral("刷新权益"));
    waitFor(QStringLiteral("the refresh to end"), [&] {
        return !model().isBusy() && model().statusMessage() == QStringLiteral("登录状态已保留，会员权益等待网络恢复后同步");
    }, 40'000);
    shot(QStringLiteral("service-gone"));
    bool ok = check(model().user() && model().membershipActive() && model().officialLineReady(),
        QStringLiteral("still signed in as a member, the line kept"));
    ok = check(sessionTokenStored(), QStringLiteral("the session token is still stored")) && ok;
    if (shownButton(QStringLiteral("知道了")))
        click(QStringLiteral("知道了"));
    return check(askWorld(QStringLiteral("service-up")), QStringLiteral("the world brought the service back")) && ok;
}

bool Faults::helperStopped()
{
    say(QStringLiteral("-- the helper is stopped"));
    if (!check(askWorld(QStringLiteral("helper-stop")), QStringLiteral("the world stopped the helper")))
        return false;
    bool ok = connectFailsLeavingSettingsAlone(QStringLiteral("helper-stopped"));
    ok = check(shownButton(QStringLiteral("知道了")) != nullptr, QStringLiteral("an alert explains the failure")) && ok;
    click(QStringLiteral("知道了"));
    return ok;
}

bool Faults::sessionEndedByService()
{
    say(QStringLiteral("-- the service ends the session (401)"));
    if (!check(askWorld(QStringLiteral("revoke-tokens")), QStringLiteral("the service revoked the account's tokens"))
        || !openPage(QStringLiteral("会员")) || !click(QStringLiteral("刷新权益")))
        return false;
    // Signing out ends with the sign-in sheet; the user goes first.
    const bool out = waitFor(QStringLiteral("signed out"),
        [&] { return !model().user() && model().showAuthentication() && !model().isBusy(); }, 20'000);
    shot(QStringLiteral("session-ended"));
    bool ok = out && check(!model().officialLineReady(), QStringLiteral("the official line is gone"));
    ok = check(!sessionTokenStored() && !officialLineStored(), QStringLiteral("the session token and the line are deleted from the keyring"))
        && ok;
    ok = check(model().authenticationMode() == AuthenticationMode::login
                 && model().statusMessage() == QStringLiteral("需要重新登录")
                 && alertShows(window(), QStringLiteral("登录状态已过期，请重新登录。")),
             QStringLiteral("the sign-in sheet asks to sign in again: \"需要重新登录\", with the alert"))
        && ok;
    return ok;
}

} // namespace veyra::e2e
