#include "Scenarios.h"

#include "ConfigCompiler.h"

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <QUrl>

namespace veyra::e2e {

constexpr qint64 downloadBytes = 3'000'000;

void Tour::run()
{
    say(u"screenshots: %1"_s.arg(m_options.screenshots));
    const bool ready = waitForStartUp()
        && check(
            test::showsText(window(), u"注册或登录后开始使用"_s), u"a first start shows \"注册或登录后开始使用\""_s);
    shot(u"signed-out"_s);
    m_settingsBefore = readSettings();

    const bool completed = ready && registerAccount() && buy(u"微信支付"_s, u"月度会员"_s, u"wechat"_s)
        && buy(u"支付宝"_s, u"季度会员"_s, u"alipay"_s) && connectAndCheck() && browse() && browserFollows(true)
        && changeNode() && changeMode() && disconnectAndCheck();
    if (!completed)
        say(u"the tour stopped at the first failed step"_s);
    quit();
}

bool Tour::registerAccount()
{
    if (!click(u"注册账号"_s))
        return false;
    QLineEdit *account = shownField(u"11位手机号"_s);
    QLineEdit *password = shownField(u"密码（至少 8 位）"_s);
    QLineEdit *confirmation = shownField(u"再次输入密码"_s);
    if (!check(
            account && password && confirmation, u"the registration sheet asks for a number and the password twice"_s))
        return false;
    QTest::keyClicks(account, m_options.account);
    QTest::keyClicks(password, m_options.password);
    QTest::keyClicks(confirmation, m_options.password);
    shot(u"register"_s);
    if (!click(u"注册并登录"_s))
        return false;
    const bool registered = waitFor(u"signed in as the new account"_s, 15'000, [&] { return signedIn(); });
    shot(u"membership-required"_s);
    return registered
        && check(model().user()->account == m_options.account && !model().membershipActive()
                && test::showsText(window(), u"需要有效会员"_s),
            u"a new account is signed in without membership: \"需要有效会员\""_s);
}

bool Tour::buy(const QString &method, const QString &plan, const QString &shotName)
{
    const bool wasMember = model().membershipActive();
    const QString expiryBefore = model().membershipExpiryText();
    if ((wasMember && !openPage(u"会员"_s)) || !click(method))
        return false;
    QAbstractButton *buyButton = nullptr;
    waitFor(u"\"立即购买\" for %1"_s.arg(plan), 10'000, [&] {
        for (auto *button : window()->findChildren<QPushButton *>())
            if (button->isVisible() && button->isEnabled() && button->text() == u"立即购买"_s
                && button->accessibleDescription().startsWith(plan + QLatin1Char(' ')))
                buyButton = button;
        return buyButton != nullptr;
    });
    if (!buyButton)
        return false;
    QTest::mouseClick(buyButton, Qt::LeftButton);
    if (!waitFor(u"an open %1 order in the checkout sheet"_s.arg(method), 15'000,
            [&] { return model().showCheckout() && model().currentOrder() && !model().currentOrder()->isFinal(); }))
        return false;
    if (method == u"微信支付"_s)
        check(!model().checkoutImage().isNull() && shownSheet(window()), u"the sheet shows the payment QR code"_s);
    else
        waitFor(u"the Alipay checkout page opened in the browser"_s, 5'000,
            [&] { return test::showsText(shownSheet(window()), u"已打开支付宝官方收银台"_s) && m_pagesOpened > 0; });
    shot(u"checkout-"_s + shotName);
    // Until the service says "paid", nothing about the membership changes.
    check(model().membershipActive() == wasMember && model().membershipExpiryText() == expiryBefore,
        u"the membership is unchanged while the order is %1"_s.arg(model().currentOrder()->status));
    if (!waitFor(u"the service's confirmation of payment"_s, 40'000, [&] {
            return model().currentOrder() && model().currentOrder()->isPaid() && model().membershipActive()
                && model().membershipExpiryText() != expiryBefore;
        }))
        return false;
    waitFor(u"\"开通成功\""_s, 5'000, [&] { return shownButton(u"完成"_s) != nullptr; });
    shot(u"paid-"_s + shotName);
    check(test::showsText(shownSheet(window()), u"开通成功"_s), u"the sheet says \"开通成功\""_s);
    check(model().membershipExpiryText() != expiryBefore,
        u"membership now ends %1 (was %2)"_s.arg(model().membershipExpiryText(), expiryBefore));
    return click(u"完成"_s) && waitFor(u"the sheet to close"_s, 5'000, [&] { return !model().showCheckout(); });
}

bool Tour::connectAndCheck()
{
    if (!connectLine())
        return false;
    shot(u"connected"_s);
    const int port = static_cast<int>(model().settings().mixedPort);
    return check(m_settings.pointsAt(port, [this](const QString &line) { say(line); }),
        u"every system proxy setting points at 127.0.0.1:%1"_s.arg(port));
}

bool Tour::browse()
{
    const qint64 before = model().trafficUsage().usedBytes.value_or(0);
    const QString proxy = u"http://127.0.0.1:%1"_s.arg(model().settings().mixedPort);
    const QString url = m_options.siteUrl + u"bytes/%1"_s.arg(downloadBytes);
    // As a browser would: it finds the proxy in the system settings the application just set.
    QProcess curl;
    curl.start(u"curl"_s,
        { u"-sS"_s, u"--max-time"_s, u"20"_s, u"-x"_s, proxy, u"-o"_s, u"/dev/null"_s, u"-w"_s,
            u"%{http_code} %{size_download}"_s, url });
    const bool ended
        = waitFor(u"a download through the proxy"_s, 25'000, [&] { return curl.state() == QProcess::NotRunning; });
    const QString result = QString::fromUtf8(curl.readAllStandardOutput()).trimmed();
    say(u"curl -x %1 %2 → %3 %4"_s.arg(proxy, url, result, QString::fromUtf8(curl.readAllStandardError()).trimmed()));
    if (!check(ended && result == u"200 %1"_s.arg(downloadBytes),
            u"the web site answered through the proxy with every byte"_s))
        return false;
    const bool counted = waitFor(u"the download in the traffic figure"_s, 15'000,
        [&] { return model().trafficUsage().usedBytes.value_or(0) - before >= downloadBytes; });
    say(u"traffic used: %1 → %2 bytes (%3)"_s.arg(before)
            .arg(model().trafficUsage().usedBytes.value_or(0))
            .arg(model().trafficUsage().summaryText()));
    // The traffic card is below the fold of the dashboard: scrolled into view as a person would.
    for (auto *label : window()->findChildren<QLabel *>())
        if (label->isVisible() && label->text() == model().trafficUsage().quotaText())
            for (QWidget *up = label->parentWidget(); up; up = up->parentWidget())
                if (auto *area = qobject_cast<QScrollArea *>(up)) {
                    area->ensureWidgetVisible(label, 0, 48);
                    break;
                }
    shot(u"traffic"_s);
    return counted;
}

// On a desktop, a real browser started by the world's root side with no proxy option of its
// own: it goes through the line while connected and straight to the site once disconnected.
bool Tour::browserFollows(bool connected)
{
    // The world keeps the proxy settings as they are while connected, for its report.
    if (connected && !check(askWorld(u"connected-settings"_s), u"the world read the proxy settings while connected"_s))
        return false;
    if (!m_settings.desktop())
        return true;
    const QString action = connected ? u"browser-through-line"_s : u"browser-direct"_s;
    return check(askWorld(action),
        connected ? u"chromium as a GNOME and as a KDE user went through the line"_s
                  : u"chromium as a GNOME and as a KDE user went straight to the site"_s);
}

bool Tour::changeNode()
{
    if (!openPage(u"节点"_s))
        return false;
    const QString before = model().activeNodeName();
    QString target;
    for (const NodeItem &node : model().nodes())
        if (node.name != before && target.isEmpty())
            target = node.name;
    if (!check(!target.isEmpty(), u"the line has a second node to choose (%1 nodes)"_s.arg(model().nodes().size())))
        return false;
    QAbstractButton *select = nullptr;
    for (auto *button : window()->findChildren<QPushButton *>())
        if (button->isVisible() && button->accessibleName() == u"选择并同步 "_s + target)
            select = button;
    if (!check(select && select->isEnabled(), u"the nodes page offers \"选择\" for %1"_s.arg(target)))
        return false;
    QTest::mouseClick(select, Qt::LeftButton);
    const bool chosen = waitFor(u"the node %1"_s.arg(target), 15'000,
        [&] { return model().activeNodeName() == target && !model().selectingNodeName() && !model().isBusy(); });
    shot(u"nodes"_s);
    const QByteArray group = QUrl::toPercentEncoding(QString::fromUtf8(ConfigCompiler::selectableGroup));
    const QString now = kernelState(u"proxies/"_s + QString::fromUtf8(group), u"now"_s);
    return chosen && check(now == target, u"the kernel routes through %1 (it says %2)"_s.arg(target, now));
}

bool Tour::changeMode()
{
    if (!openPage(u"首页"_s) || !click(u"全局代理"_s))
        return false;
    const bool changed = waitFor(u"global mode"_s, 15'000,
        [&] { return model().settings().proxyMode == ConnectionMode::global && !model().isBusy(); });
    waitFor(u"\"已立即生效\""_s, 5'000, [&] { return test::showsText(window(), u"已立即生效"_s); });
    shot(u"global-mode"_s);
    const QString mode = kernelState(u"configs"_s, u"mode"_s);
    return changed && check(mode == u"global"_s, u"the kernel runs in global mode (it says %1)"_s.arg(mode));
}

bool Tour::disconnectAndCheck()
{
    const bool disconnected = disconnectLine();
    shot(u"disconnected"_s);
    return disconnected
        && check(m_settings.restored(m_settingsBefore, readSettings()), u"every system proxy setting is as before"_s)
        && browserFollows(false);
}

} // namespace veyra::e2e
