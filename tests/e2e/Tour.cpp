#include "Scenarios.h"

#include "AppModel.h"
#include "ConfigCompiler.h"
#include "MihomoManager.h"
#include "UiTestSupport.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <QUrl>

namespace veyra::e2e {

namespace {

constexpr qint64 downloadBytes = 3'000'000;

} // namespace

void Tour::run()
{
    say(QStringLiteral("screenshots: %1").arg(m_options.screenshots));
    const bool ready = waitForStartUp()
        && check(test::showsText(window(), QStringLiteral("注册或登录后开始使用")),
            QStringLiteral("a first start shows \"注册或登录后开始使用\""));
    shot(QStringLiteral("signed-out"));
    m_settingsBefore = readSettings();

    const bool completed = ready && registerAccount()
        && buy(QStringLiteral("微信支付"), QStringLiteral("月度会员"), QStringLiteral("wechat"))
        && buy(QStringLiteral("支付宝"), QStringLiteral("季度会员"), QStringLiteral("alipay")) && connectAndCheck() && browse() && browserFollows(true) && changeNode()
        && changeMode() && disconnectAndCheck();
    if (!completed)
        say(QStringLiteral("the tour stopped at the first failed step"));
    quit();
}

bool Tour::registerAccount()
{
        if (!click(QStringLiteral("注册账号")))
        return false;
    QLineEdit *account = shownField(QStringLiteral("11位手机号"));
    QLineEdit *password = shownField(QStringLiteral("密码（至少 8 位）"));
    QLineEdit *confirmation = shownField(QStringLiteral("再次输入密码"));
    if (!check(account && password && confirmation, QStringLiteral("the registration sheet asks for a number and the password twice")))
        return false;
    QTest::keyClicks(account, m_options.account);
    QTest::keyClicks(password, m_options.password);
    QTest::keyClicks(confirmation, m_options.password);
    shot(QStringLiteral("register"));
    if (!click(QStringLiteral("注册并登录")))
        return false;
    const bool signedIn = waitFor(QStringLiteral("signed in as the new account"),
        [&] { return model().user() && !model().showAuthentication() && !model().isBusy(); }, 15'000);
    shot(QStringLiteral("membership-required"));
    return signedIn
        && check(model().user()->account == m_options.account && !model().membershipActive()
                && test::showsText(window(), QStringLiteral("需要有效会员")),
            QStringLiteral("a new account is signed in without membership: \"需要有效会员\""));
}

bool Tour::buy(const QString &method, const QString &plan, const QString &shotName)
{
    const bool wasMember = model().membershipActive();
    const QString expiryBefore = model().membershipExpiryText();
    if (wasMember && !openPage(QStringLiteral("会员")))
        return false;
    if (!click(method))
        return false;
    QAbstractButton *buyButton = nullptr;
    waitFor(QStringLiteral("\"立即购买\" for %1").arg(plan), [&] {
        for (auto *button : window()->findChildren<QPushButton *>())
            if (button->isVisible() && button->isEnabled() && button->text() == QStringLiteral("立即购买")
                && button->accessibleDescription().startsWith(plan + QLatin1Char(' ')))
                buyButton = button;
        return buyButton != nullptr;
    }, 10'000);
    if (!buyButton)
        return false;
    QTest::mouseClick(buyButton, Qt::LeftButton);
    const bool open = waitFor(QStringLiteral("an open %1 order in the checkout sheet").arg(method), [&] {
        return model().showCheckout() && model().currentOrder() && !model().currentOrder()->isFinal();
    }, 15'000);
    if (!open)
        return false;
    const bool wechat = method == QStringLiteral("微信支付");
    if (wechat)
        check(!model().checkoutImage().isNull() && shownSheet(window()), QStringLiteral("the sheet shows the payment QR code"));
    else
        waitFor(QStringLiteral("the Alipay checkout page opened in the browser"), [&] {
            return test::showsText(shownSheet(window()), QStringLiteral("已打开支付宝官方收银台")) && m_pagesOpened > 0;
        }, 5'000);
    shot(QStringLiteral("checkout-") + shotName);
    // Until the service says "paid", nothing about the membership changes.
    check(model().membershipActive() == wasMember && model().membershipExpiryText() == expiryBefore,
        QStringLiteral("the membership is unchanged while the order is %1").arg(model().currentOrder()->status));
    const bool paid = waitFor(QStringLiteral("the service's confirmation of payment"),
        [&] {
            return model().currentOrder() && model().currentOrder()->isPaid() && model().membershipActive()
                && model().membershipExpiryText() != expiryBefore;
        },
        40'000);
    if (!paid)
        return false;
    waitFor(QStringLiteral("\"开通成功\""), [&] { return shownButton(QStringLiteral("完成")) != nullptr; }, 5'000);
    shot(QStringLiteral("paid-") + shotName);
    check(test::showsText(shownSheet(window()), QStringLiteral("开通成功")), QStringLiteral("the sheet says \"开通成功\""));
    check(model().membershipExpiryText() != expiryBefore,
        QStringLiteral("membership now ends %1 (was %2)").arg(model().membershipExpiryText(), expiryBefore));
    return click(QStringLiteral("完成"))
        && waitFor(QStringLiteral("the sheet to close"), [&] { return !model().showCheckout(); }, 5'000);
}

bool Tour::connectAndCheck()
{
    if (!connectLine())
        return false;
    shot(QStringLiteral("connected"));

    const int port = static_cast<int>(model().settings().mixedPort);
    return check(m_settings.pointsAt(port, [this](const QString &line) { say(line); }),
        QStringLiteral("every system proxy setting points at 127.0.0.1:%1").arg(port));
}

bool Tour::browse()
{
        const qint64 before = model().trafficUsage().usedBytes.value_or(0);
    const QString proxy = QStringLiteral("http://127.0.0.1:%1").arg(model().settings().mixedPort);
    const QString url = m_options.siteUrl + QStringLiteral("bytes/%1").arg(downloadBytes);
    // As a browser would: it finds the proxy in the system settings the application just set.
    QProcess curl;
    curl.start(QStringLiteral("curl"), { QStringLiteral("-sS"), QStringLiteral("--max-time"), QStringLiteral("20"),
                                          QStringLiteral("-x"), proxy, QStringLiteral("-o"), QStringLiteral("/dev/null"),
                                          QStringLiteral("-w"), QStringLiteral("%{http_code} %{size_download}"), url });
    const bool ended = waitFor(QStringLiteral("a download through the proxy"),
        [&] { return curl.state() == QProcess::NotRunning; }, 25'000);
    const QString result = QString::fromUtf8(curl.readAllStandardOutput()).trimmed();
    say(QStringLiteral("curl -x %1 %2 → %3 %4").arg(proxy, url, result, QString::fromUtf8(curl.readAllStandardError()).trimmed()));
    if (!check(ended && result == QStringLiteral("200 %1").arg(downloadBytes),
            QStringLiteral("the web site answered through the proxy with every byte")))
        return false;
    const bool counted = waitFor(QStringLiteral("the download in the traffic figure"),
        [&] { return model().trafficUsage().usedBytes.value_or(0) - before >= downloadBytes; }, 15'000);
    say(QStringLiteral("traffic used: %1 → %2 bytes (%3)")
            .arg(before)
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
    shot(QStringLiteral("traffic"));
    return counted;
}

// On a desktop, a real browser started by the world's root side with no proxy option of its
// own: it goes through the line while connected and straight to the site once disconnected.
bool Tour::browserFollows(bool connected)
{
    // The world keeps the proxy settings as they are while connected, for its report.
    if (connected
        && !check(askWorld(QStringLiteral("connected-settings")),
            QStringLiteral("the world read the proxy settings while connected")))
        return false;
    if (!m_settings.desktop())
        return true;
    const QString action = connected ? QStringLiteral("browser-through-line") : QStringLiteral("browser-direct");
    return check(askWorld(action),
        connected ? QStringLiteral("chromium as a GNOME and as a KDE user went through the line")
                  : QStringLiteral("chromium as a GNOME and as a KDE user went straight to the site"));
}

bool Tour::changeNode()
{
        if (!openPage(QStringLiteral("节点")))
        return false;
    const QString before = model().activeNodeName();
    QString target;
    for (const NodeItem &node : model().nodes())
        if (node.name != before && target.isEmpty())
            target = node.name;
    if (!check(!target.isEmpty(), QStringLiteral("the line has a second node to choose (%1 nodes)").arg(model().nodes().size())))
        return false;
    QAbstractButton *select = nullptr;
    for (auto *button : window()->findChildren<QPushButton *>())
        if (button->isVisible() && button->accessibleName() == QStringLiteral("选择并同步 ") + target)
            select = button;
    if (!check(select && select->isEnabled(), QStringLiteral("the nodes page offers \"选择\" for %1").arg(target)))
        return false;
    QTest::mouseClick(select, Qt::LeftButton);
    const bool chosen = waitFor(QStringLiteral("the node %1").arg(target),
        [&] { return model().activeNodeName() == target && !model().selectingNodeName() && !model().isBusy(); }, 15'000);
    shot(QStringLiteral("nodes"));
    const QString group = QString::fromUtf8(QUrl::toPercentEncoding(QString::fromUtf8(ConfigCompiler::selectableGroup)));
    const QString now = QJsonDocument::fromJson(kernelState(QStringLiteral("proxies/") + group).toUtf8())
                            .object()
                            .value(QStringLiteral("now"))
                            .toString();
    return chosen && check(now == target, QStringLiteral("the kernel routes through %1 (it says %2)").arg(target, now));
}

bool Tour::changeMode()
{
        if (!openPage(QStringLiteral("首页")) || !click(QStringLiteral("全局代理")))
        return false;
    const bool changed = waitFor(QStringLiteral("global mode"),
        [&] { return model().settings().proxyMode == ConnectionMode::global && !model().isBusy(); }, 15'000);
    waitFor(QStringLiteral("\"已立即生效\""), [&] { return test::showsText(window(), QStringLiteral("已立即生效")); }, 5'000);
    shot(QStringLiteral("global-mode"));
    const QString mode = QJsonDocument::fromJson(kernelState(QStringLiteral("configs")).toUtf8())
                             .object()
                             .value(QStringLiteral("mode"))
                             .toString();
    return changed && check(mode == QStringLiteral("global"), QStringLiteral("the kernel runs in global mode (it says %1)").arg(mode));
}

bool Tour::disconnectAndCheck()
{
    const bool disconnected = disconnectLine();
    shot(QStringLiteral("disconnected"));
    const QByteArray after = readSettings();
    return disconnected && check(settingsRestored(m_settingsBefore, after), QStringLiteral("every system proxy setting is as before"))
        && browserFollows(false);
}

} // namespace veyra::e2e
