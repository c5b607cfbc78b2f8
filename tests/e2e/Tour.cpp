#include "Tour.h"

#include "AppModel.h"
#include "ConfigCompiler.h"
#include "MainWindow.h"
#include "MihomoManager.h"
#include "UiTestSupport.h"
#include "VeyraNetworkAssistantApp.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <QTextStream>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace veyra::e2e {

using test::findButton;
using test::visibleTexts;

namespace {

constexpr qint64 downloadBytes = 3'000'000;

// The windows a person sees now: the main window and any sheet over it.
QList<QWidget *> shownWindows()
{
    QList<QWidget *> windows;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (widget->isVisible() && !widget->isMinimized())
            windows << widget;
    return windows;
}

QAbstractButton *shownButton(const QString &text)
{
    for (QWidget *window : shownWindows()) {
        if (auto *button = findButton(window, text); button && button->isVisible())
            return button;
        for (auto *dialog : window->findChildren<QDialog *>())
            if (dialog->isVisible())
                if (auto *button = findButton(dialog, text))
                    return button;
    }
    return nullptr;
}

QLineEdit *shownField(const QString &placeholder)
{
    for (QWidget *window : shownWindows())
        for (auto *field : window->findChildren<QLineEdit *>())
            if (field->isVisible() && field->placeholderText() == placeholder)
                return field;
    return nullptr;
}

QDialog *shownSheet(QWidget *window)
{
    if (!window)
        return nullptr;
    for (auto *dialog : window->findChildren<QDialog *>())
        if (dialog->isVisible() && dialog->isModal())
            return dialog;
    return nullptr;
}

// Runs a task on a nested event loop for at most `limitMs`; answers its result, or nothing
// when it failed or ran late (the task then finishes on its own).
template <typename T>
QCoro::Task<> keep(QCoro::Task<T> task, std::shared_ptr<std::optional<T>> result, std::shared_ptr<bool> done)
{
    try {
        result->emplace(co_await std::move(task));
    } catch (...) {
    }
    *done = true;
}

template <typename T> std::optional<T> finish(QCoro::Task<T> &&task, int limitMs)
{
    auto result = std::make_shared<std::optional<T>>();
    auto done = std::make_shared<bool>(false);
    QCoro::Task<> runner = keep<T>(std::move(task), result, done);
    test::waitUntil([&] { return *done; }, limitMs);
    return *result;
}

QString proxyText(const QJsonObject &endpoint)
{
    return QStringLiteral("%1 %2:%3")
        .arg(endpoint.value(QStringLiteral("enabled")).toBool() ? QStringLiteral("on") : QStringLiteral("off"),
            endpoint.value(QStringLiteral("server")).toString())
        .arg(endpoint.value(QStringLiteral("port")).toInt());
}

// Whether the services' settings `after` are those of `before` as a restore leaves them:
// equal, except that an endpoint that was off and named no server may name one now (the tool
// cannot clear a server, so switching the endpoint off is all a restore can do for it).
bool restoredAsBefore(const QByteArray &before, const QByteArray &after)
{
    const QJsonArray was = QJsonDocument::fromJson(before).array();
    QJsonArray now = QJsonDocument::fromJson(after).array();
    for (qsizetype i = 0; i < std::min(was.size(), now.size()); ++i) {
        QJsonObject service = now.at(i).toObject();
        for (const QString &kind : { QStringLiteral("web"), QStringLiteral("secureWeb"), QStringLiteral("socks") }) {
            const QJsonObject old = was.at(i).toObject().value(kind).toObject();
            const bool unnamed = !old.value(QStringLiteral("enabled")).toBool() && old.value(QStringLiteral("server")).toString().isEmpty();
            if (unnamed && !service.value(kind).toObject().value(QStringLiteral("enabled")).toBool())
                service.insert(kind, old);
        }
        now.replace(i, service);
    }
    return !was.isEmpty() && QJsonDocument(now).toJson(QJsonDocument::Compact) == before;
}

} // namespace

Tour::Tour(ui::VeyraNetworkAssistantApp &app, MihomoManager &core, TourOptions options)
    : m_app(app)
    , m_core(core)
    , m_options(std::move(options))
{
    QDir().mkpath(m_options.screenshots);
}

void Tour::run()
{
    AppModel &model = m_app.model();
    say(QStringLiteral("screenshots: %1").arg(m_options.screenshots));
    const bool ready = waitFor(QStringLiteral("the window and the end of start-up"), [&] {
        return window() && window()->isVisible() && !model.isBusy() && !model.statusMessage().isEmpty()
            && test::showsText(window(), QStringLiteral("注册或登录后开始使用"));
    }, 30'000);
    shot(QStringLiteral("signed-out"));
    m_servicesBefore = readNetworkState();
    say(QStringLiteral("network services before: %1").arg(QString::fromUtf8(m_servicesBefore).simplified()));

    const bool completed = ready && registerAccount()
        && buy(QStringLiteral("微信支付"), QStringLiteral("月度会员"), QStringLiteral("wechat"))
        && buy(QStringLiteral("支付宝"), QStringLiteral("季度会员"), QStringLiteral("alipay")) && connectLine() && browse() && changeNode()
        && changeMode() && disconnectLine();
    if (!completed)
        say(QStringLiteral("the tour stopped at the first failed step"));
    quit();
}

bool Tour::registerAccount()
{
    AppModel &model = m_app.model();
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
        [&] { return model.user() && !model.showAuthentication() && !model.isBusy(); }, 15'000);
    shot(QStringLiteral("membership-required"));
    return signedIn
        && check(model.user()->account == m_options.account && !model.membershipActive()
                && test::showsText(window(), QStringLiteral("需要有效会员")),
            QStringLiteral("a new account is signed in without membership: \"需要有效会员\""));
}

bool Tour::buy(const QString &method, const QString &plan, const QString &shotName)
{
    AppModel &model = m_app.model();
    const bool wasMember = model.membershipActive();
    const QString expiryBefore = model.membershipExpiryText();
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
        return model.showCheckout() && model.currentOrder() && !model.currentOrder()->isFinal();
    }, 15'000);
    if (!open)
        return false;
    const bool wechat = method == QStringLiteral("微信支付");
    if (wechat)
        check(!model.checkoutImage().isNull() && shownSheet(window()), QStringLiteral("the sheet shows the payment QR code"));
    else
        waitFor(QStringLiteral("the Alipay checkout page opened in the browser"), [&] {
            return test::showsText(shownSheet(window()), QStringLiteral("已打开支付宝官方收银台")) && m_pagesOpened > 0;
        }, 5'000);
    shot(QStringLiteral("checkout-") + shotName);
    // Until the service says "paid", nothing about the membership changes.
    check(model.membershipActive() == wasMember && model.membershipExpiryText() == expiryBefore,
        QStringLiteral("the membership is unchanged while the order is %1").arg(model.currentOrder()->status));
    const bool paid = waitFor(QStringLiteral("the service's confirmation of payment"),
        [&] { return model.currentOrder() && model.currentOrder()->isPaid() && model.membershipActive(); }, 40'000);
    if (!paid)
        return false;
    waitFor(QStringLiteral("\"开通成功\""), [&] { return shownButton(QStringLiteral("完成")) != nullptr; }, 5'000);
    shot(QStringLiteral("paid-") + shotName);
    check(test::showsText(shownSheet(window()), QStringLiteral("开通成功")), QStringLiteral("the sheet says \"开通成功\""));
    check(model.membershipExpiryText() != expiryBefore,
        QStringLiteral("membership now ends %1 (was %2)").arg(model.membershipExpiryText(), expiryBefore));
    return click(QStringLiteral("完成"))
        && waitFor(QStringLiteral("the sheet to close"), [&] { return !model.showCheckout(); }, 5'000);
}

bool Tour::connectLine()
{
    AppModel &model = m_app.model();
    if (!openPage(QStringLiteral("首页")))
        return false;
    waitFor(QStringLiteral("the official line and its nodes"),
        [&] { return model.officialLineReady() && !model.isBusy(); }, 20'000);
    shot(QStringLiteral("dashboard-disconnected"));
    QElapsedTimer clock;
    clock.start();
    if (!click(QStringLiteral("智能连接")))
        return false;
    const bool connected = waitFor(QStringLiteral("\"已安全连接 · …\""), [&] {
        return model.isConnected() && model.statusMessage().startsWith(QStringLiteral("已安全连接 · "));
    }, 30'000);
    if (!connected)
        return false;
    say(QStringLiteral("connected in %1 ms: %2").arg(clock.elapsed()).arg(model.statusMessage()));
    shot(QStringLiteral("connected"));

    const int port = static_cast<int>(model.settings().mixedPort);
    const QJsonArray services = QJsonDocument::fromJson(readNetworkState()).array();
    bool allPointed = !services.isEmpty();
    for (const QJsonValue &value : services) {
        const QJsonObject service = value.toObject();
        const bool active = !service.value(QStringLiteral("ipAddress")).toString().isEmpty();
        const QString expected = QStringLiteral("on 127.0.0.1:%1").arg(port);
        const QStringList proxies { proxyText(service.value(QStringLiteral("web")).toObject()),
            proxyText(service.value(QStringLiteral("secureWeb")).toObject()),
            proxyText(service.value(QStringLiteral("socks")).toObject()) };
        say(QStringLiteral("  %1: %2").arg(service.value(QStringLiteral("name")).toString(), proxies.join(QStringLiteral(", "))));
        if (active && proxies != QStringList { expected, expected, expected })
            allPointed = false;
    }
    return check(allPointed, QStringLiteral("every active network service points at 127.0.0.1:%1").arg(port));
}

bool Tour::browse()
{
    AppModel &model = m_app.model();
    const qint64 before = model.trafficUsage().usedBytes.value_or(0);
    const QString proxy = QStringLiteral("http://127.0.0.1:%1").arg(model.settings().mixedPort);
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
        [&] { return model.trafficUsage().usedBytes.value_or(0) - before >= downloadBytes; }, 15'000);
    say(QStringLiteral("traffic used: %1 → %2 bytes (%3)")
            .arg(before)
            .arg(model.trafficUsage().usedBytes.value_or(0))
            .arg(model.trafficUsage().summaryText()));
    // The traffic card is below the fold of the dashboard: scrolled into view as a person would.
    for (auto *label : window()->findChildren<QLabel *>())
        if (label->isVisible() && label->text() == model.trafficUsage().quotaText())
            for (QWidget *up = label->parentWidget(); up; up = up->parentWidget())
                if (auto *area = qobject_cast<QScrollArea *>(up)) {
                    area->ensureWidgetVisible(label, 0, 48);
                    break;
                }
    shot(QStringLiteral("traffic"));
    return counted;
}

bool Tour::changeNode()
{
    AppModel &model = m_app.model();
    if (!openPage(QStringLiteral("节点")))
        return false;
    const QString before = model.activeNodeName();
    QString target;
    for (const NodeItem &node : model.nodes())
        if (node.name != before && target.isEmpty())
            target = node.name;
    if (!check(!target.isEmpty(), QStringLiteral("the line has a second node to choose (%1 nodes)").arg(model.nodes().size())))
        return false;
    QAbstractButton *select = nullptr;
    for (auto *button : window()->findChildren<QPushButton *>())
        if (button->isVisible() && button->accessibleName() == QStringLiteral("选择并同步 ") + target)
            select = button;
    if (!check(select && select->isEnabled(), QStringLiteral("the nodes page offers \"选择\" for %1").arg(target)))
        return false;
    QTest::mouseClick(select, Qt::LeftButton);
    const bool chosen = waitFor(QStringLiteral("the node %1").arg(target),
        [&] { return model.activeNodeName() == target && !model.selectingNodeName() && !model.isBusy(); }, 15'000);
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
    AppModel &model = m_app.model();
    if (!openPage(QStringLiteral("首页")) || !click(QStringLiteral("全局代理")))
        return false;
    const bool changed = waitFor(QStringLiteral("global mode"),
        [&] { return model.settings().proxyMode == ConnectionMode::global && !model.isBusy(); }, 15'000);
    waitFor(QStringLiteral("\"已立即生效\""), [&] { return test::showsText(window(), QStringLiteral("已立即生效")); }, 5'000);
    shot(QStringLiteral("global-mode"));
    const QString mode = QJsonDocument::fromJson(kernelState(QStringLiteral("configs")).toUtf8())
                             .object()
                             .value(QStringLiteral("mode"))
                             .toString();
    return changed && check(mode == QStringLiteral("global"), QStringLiteral("the kernel runs in global mode (it says %1)").arg(mode));
}

bool Tour::disconnectLine()
{
    AppModel &model = m_app.model();
    if (!click(QStringLiteral("断开")))
        return false;
    const bool disconnected = waitFor(QStringLiteral("\"已断开，系统代理已恢复\""), [&] {
        return !model.isConnected() && model.statusMessage() == QStringLiteral("已断开，系统代理已恢复");
    }, 15'000);
    shot(QStringLiteral("disconnected"));
    const QByteArray after = readNetworkState();
    say(QStringLiteral("network services after: %1").arg(QString::fromUtf8(after).simplified()));
    return disconnected && check(restoredAsBefore(m_servicesBefore, after), QStringLiteral("every network service is as before"));
}

void Tour::quit()
{
    say(QStringLiteral("status: %1").arg(m_app.model().statusMessage()));
    say(m_failures == 0 ? QStringLiteral("tour passed; quitting") : QStringLiteral("tour FAILED (%1); quitting").arg(m_failures));
    QAction *quit = nullptr;
    if (auto *window = m_app.mainWindow())
        for (QMenu *menu : window->menuBar()->findChildren<QMenu *>())
            if (QAction *action = test::menuAction(menu, QStringLiteral("退出")))
                quit = action;
    if (quit)
        quit->trigger();
    else
        QApplication::exit(1);
}

bool Tour::openInBrowser(const QString &url)
{
    // The browser: fetches the page (the world trusts its certificates system-wide) and tells
    // only whether it loaded, never the address (it carries the order's code).
    ++m_pagesOpened;
    auto *page = new QProcess(qApp);
    QObject::connect(page, &QProcess::finished, page, [this, page](int status) {
        say(QStringLiteral("browser: checkout page %1").arg(status == 0 ? QStringLiteral("loaded") : QStringLiteral("failed")));
        page->deleteLater();
    });
    page->start(QStringLiteral("curl"), { QStringLiteral("-fsS"), QStringLiteral("--max-time"), QStringLiteral("10"),
                                          QStringLiteral("-o"), QStringLiteral("/dev/null"), url });
    return true;
}

QWidget *Tour::window() const { return m_app.mainWindow(); }

bool Tour::openPage(const QString &title)
{
    auto *sidebar = window() ? window()->findChild<QListWidget *>(QStringLiteral("Sidebar")) : nullptr;
    const QList<QListWidgetItem *> items = sidebar ? sidebar->findItems(title, Qt::MatchExactly) : QList<QListWidgetItem *> {};
    if (!check(!items.isEmpty() && sidebar->isVisible(), QStringLiteral("the sidebar lists \"%1\"").arg(title)))
        return false;
    QTest::mouseClick(sidebar->viewport(), Qt::LeftButton, {}, sidebar->visualItemRect(items.first()).center());
    return waitFor(QStringLiteral("the page \"%1\"").arg(title), [&] { return sidebar->currentItem() == items.first(); }, 2'000);
}

bool Tour::click(const QString &buttonText)
{
    QAbstractButton *button = nullptr;
    waitFor(QStringLiteral("the button \"%1\"").arg(buttonText), [&] {
        button = shownButton(buttonText);
        return button && button->isEnabled();
    }, 10'000);
    if (!button || !button->isEnabled())
        return false;
    QTest::mouseClick(button, Qt::LeftButton);
    return true;
}

bool Tour::waitFor(const QString &what, const std::function<bool()> &condition, int limitMs)
{
    if (test::waitUntil(condition, limitMs))
        return true;
    return check(false,
        QStringLiteral("%1 within %2 s; the window shows: %3")
            .arg(what)
            .arg(limitMs / 1000)
            .arg((window() ? visibleTexts(window()) : QStringList {}).join(QStringLiteral(" | "))));
}

bool Tour::check(bool condition, const QString &what)
{
    say(QStringLiteral("%1 %2").arg(condition ? QStringLiteral("ok  ") : QStringLiteral("FAIL"), what));
    if (!condition)
        ++m_failures;
    return condition;
}

void Tour::shot(const QString &name)
{
    QWidget *main = window();
    if (!main)
        return;
    QCoreApplication::processEvents();
    QPixmap picture = main->grab();
    // A sheet is drawn over its dimmed window, below the title bar, as the desktop shows it.
    if (QDialog *sheet = shownSheet(main)) {
        QPainter painter(&picture);
        painter.fillRect(picture.rect(), QColor(0, 0, 0, 60));
        const QPixmap drawn = sheet->grab();
        const QSize size = drawn.deviceIndependentSize().toSize();
        painter.drawPixmap(QPoint((picture.deviceIndependentSize().toSize().width() - size.width()) / 2, 36), drawn);
    }
    const QString path = QStringLiteral("%1/%2-%3.png").arg(m_options.screenshots).arg(++m_step, 2, 10, QLatin1Char('0')).arg(name);
    say(picture.save(path) ? QStringLiteral("screenshot %1").arg(path) : QStringLiteral("could not save %1").arg(path));
}

void Tour::say(const QString &line)
{
    QTextStream out(stdout);
    out << "tour: " << line << Qt::endl;
}

QByteArray Tour::readNetworkState() const
{
    QFile file(m_options.networkState);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // The services' settings only: the tool also keeps a history of the commands it ran.
    const QJsonArray services = QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("services")).toArray();
    return QJsonDocument(services).toJson(QJsonDocument::Compact);
}

QString Tour::kernelState(const QString &path)
{
    auto query = m_core.controller(path, QByteArrayLiteral("GET"), std::nullopt, m_app.model().settings());
    const std::optional<QByteArray> body = finish(std::move(query), 10'000);
    return body ? QString::fromUtf8(*body) : QString();
}

} // namespace veyra::e2e
