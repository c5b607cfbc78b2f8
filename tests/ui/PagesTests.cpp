// The pages and the sheets on their own: the sign-in sheet, the dashboard, the nodes page, the
// settings page, the membership and account pages with the checkout sheet, the terminal command
// on the real clipboard, and the rules behind what the pages list.
#include "AccountView.h"
#include "AppModelTestPeer.h"
#include "AppPaths.h"
#include "AuthenticationView.h"
#include "CheckoutView.h"
#include "DashboardView.h"
#include "EmptyStateView.h"
#include "MembershipTrafficCard.h"
#include "MembershipView.h"
#include "NodeFilters.h"
#include "NodesView.h"
#include "PlanFeatures.h"
#include "PortField.h"
#include "ServiceWorld.h"
#include "SettingsView.h"
#include "SpeedCard.h"
#include "SpeedChart.h"
#include "StatusMenuView.h"
#include "Theme.h"
#include "UiTestSupport.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QLocale>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

using namespace veyra;
using namespace veyra::test;
using namespace veyra::ui;

namespace {

class AuthenticationViewIntegration : public ServiceWorld { };

// Registration keeps the first eleven digits of whatever is pasted or typed; signing in keeps
// older account names as they are. The mode buttons switch the whole form; the sheet opens in the
// mode the model asks for. The service's refusal is shown until the account is edited; a sign-in
// that runs cannot be sent again. The close button, Esc and the window's close each end the sheet
// in the model, and no password stays in a closed sheet.
TEST_F(AuthenticationViewIntegration, FieldModesARefusalOneSignInAndEveryWayToClose)
{
    simulator.admin("accounts", { { "account", member }, { "password", memberPassword } });
    AuthenticationView view(*model);
    view.show();
    struct Case {
        const char *name;
        AuthenticationMode mode;
        const char *inserted, *typed, *kept;
    };
    const Case cases[] = {
        { "pasted with hyphens, a blank and a digit too many", AuthenticationMode::registration, "138-0013-8000 9", "",
            "13800138000" },
        { "a full-width digit, a stray letter and a twelfth digit", AuthenticationMode::registration, "１",
            "a3900x0000000", "13900000000" },
        { "an older account name", AuthenticationMode::login, "", "veyra-user_01", "veyra-user_01" },
    };
    for (const Case &c : cases) {
        model->setAuthenticationMode(c.mode);
        view.accountField()->clear();
        view.accountField()->insert(QString::fromUtf8(c.inserted));
        QTest::keyClicks(view.accountField(), QString::fromUtf8(c.typed));
        EXPECT_EQ(view.accountField()->text(), c.kept) << c.name;
    }
    ASSERT_TRUE(press(&view, "注册"));
    EXPECT_EQ(view.submitButton()->text(), "注册并登录");
    model->setShowAuthentication(true);
    EXPECT_FALSE(view.confirmationField()->isVisible()) << "opened for signing in";

    const auto submit = [&](const char *password) {
        view.accountField()->setText(QString::fromLatin1(member));
        view.passwordField()->setText(QString::fromLatin1(password));
        QTest::mouseClick(view.submitButton(), Qt::LeftButton);
    };
    submit("wrong-pass");
    ASSERT_TRUE(waitUntil([&] { return showsText(&view, "账号或密码错误"); }));
    QTest::keyClicks(view.accountField(), QStringLiteral("1"));
    EXPECT_FALSE(showsText(&view, "账号或密码错误"));
    const qsizetype asked = requestsTo("/api/v1/auth/login").size();
    simulator.fault("/api/v1/auth/login", { { "delayMs", 1500 }, { "times", 1 } });
    submit(memberPassword);
    ASSERT_TRUE(waitUntil([&] { return model->isBusy(); }));
    EXPECT_FALSE(view.submitButton()->isEnabled());
    QTest::keyClick(view.passwordField(), Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return model->user().has_value() && !model->isBusy(); }, 10000));
    EXPECT_EQ(requestsTo("/api/v1/auth/login").size(), asked + 1);

    QPushButton *close = nullptr;
    for (QPushButton *button : view.findChildren<QPushButton *>())
        close = button->accessibleName() == "关闭" ? button : close;
    const std::pair<const char *, std::function<void()>> ways[] = {
        { "the close button", [&] { QTest::mouseClick(close, Qt::LeftButton); } },
        { "Esc", [&] { QTest::keyClick(view.accountField(), Qt::Key_Escape); } },
        { "the window's close", [&] { view.close(); } },
    };
    for (const auto &[way, closeIt] : ways) {
        model->setShowAuthentication(true);
        view.show();
        view.passwordField()->setText(QStringLiteral("password123"));
        closeIt();
        EXPECT_FALSE(model->showAuthentication()) << way;
        EXPECT_FALSE(view.isVisible()) << way;
        EXPECT_EQ(view.passwordField()->text(), "") << way;
    }
}

// Signed out, the buttons ask for the sign-in or change the page. Connected, the live speeds are
// drawn only while the window can be seen (closed to the tray, the latest are drawn on return).
TEST(DashboardView, TheButtonsAndTheLiveSpeedsFollowTheModel)
{
    // The user's own byte format; English here so the figures are fixed.
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const auto restore = qScopeGuard([&] { QLocale::setDefault(before); });
    StagedModel model;
    DashboardView view(model);
    SpeedCard *card = view.speedCard();
    view.show();
    EXPECT_EQ(pillText(view.connectButton()->parentWidget()), "已断开");
    EXPECT_TRUE(showsText(&view, "快捷键：Ctrl+Shift+C 连接或断开"));
    EXPECT_FALSE(findButton(&view, "重新测速")->isEnabled());
    ASSERT_TRUE(press(&view, "智能连接"));
    EXPECT_TRUE(model.showAuthentication());
    ASSERT_TRUE(press(&view, "查看节点"));
    EXPECT_EQ(model.selectedPage(), AppPage::nodes);
    ASSERT_TRUE(press(&view, "会员详情"));
    EXPECT_EQ(model.selectedPage(), AppPage::membership);

    model.becomeMember();
    model.setIsConnected(true);
    model.recordSpeed({ 12595, 1258291 });
    EXPECT_EQ(card->speedLine(), "↑ 12.3 kB/s ↓ 1.2 MB/s");
    view.hide();
    model.recordSpeed({ 512, 0 });
    model.recordSpeed({ 2048, 3 * 1024 * 1024 });
    EXPECT_EQ(card->chart()->history().size(), 1);
    view.show();
    EXPECT_EQ(card->speedLine(), "↑ 2.0 kB/s ↓ 3.0 MB/s");
    model.setIsConnected(false);
    EXPECT_TRUE(card->chart()->history().isEmpty());
}

// The table's rows as shown ("flag name"), or what the empty page says instead; then the
// region picker's entries.
QStringList rows(const NodesView &view)
{
    QStringList shown;
    for (int row = 0; view.showsTable() && row < view.table()->rowCount(); ++row)
        shown << view.table()->item(row, 0)->text();
    if (!view.showsTable())
        shown << view.emptyState()->title();
    for (int i = 0; i < view.regionPicker()->count(); ++i)
        shown << "[" + view.regionPicker()->itemText(i) + "]";
    return shown;
}

TEST(NodesView, TheRowsFollowTheNodesTheSearchAndTheRegion)
{
    StagedModel model;
    model.becomeMember();
    NodesView view(model);
    const auto pickRegion = [&](const QString &region) {
        view.regionPicker()->setCurrentIndex(view.regionPicker()->findText(region));
        emit view.regionPicker()->activated(view.regionPicker()->currentIndex());
    };
    EXPECT_EQ(rows(view), (QStringList { "连接后查看节点", "[全部]" }));
    EXPECT_FALSE(findButton(&view, "刷新")->isEnabled());
    model.setIsCoreRunning(true);
    EXPECT_EQ(rows(view).first(), "官方节点仍在加载");
    EXPECT_TRUE(findButton(&view, "刷新")->isEnabled());

    const QList<NodeItem> nodes { node("东京 01", "日本", 120), node("首尔 Seoul", "韩国", 90),
        node("香港 02", "香港", -1) };
    model.setNodes(nodes);
    EXPECT_EQ(rows(view),
        (QStringList {
            "🏳 东京 01", "🏳 首尔 Seoul", "🏳 香港 02", "[全部]", "[日本]", "[韩国]", "[香港]" }));
    EXPECT_EQ(view.table()->item(2, 1)->text(), "未测速");
    QTest::keyClicks(view.searchField(), " SEOUL ");
    EXPECT_EQ(rows(view).first(), "🏳 首尔 Seoul");
    view.searchField()->setText(QStringLiteral("no such node"));
    EXPECT_EQ(rows(view).first(), "没有匹配的节点");
    view.searchField()->clear();

    // A region filter, then a refresh without that region's only node: the choice stays, and so
    // does the picker's entry for it, with nothing to match until the user picks another region.
    pickRegion("日本");
    EXPECT_EQ(rows(view).first(), "🏳 东京 01");
    model.setNodes(nodes.mid(1));
    EXPECT_EQ(rows(view), (QStringList { "没有匹配的节点", "[全部]", "[韩国]", "[香港]", "[日本]" }));
    EXPECT_EQ(view.regionPicker()->currentText(), "日本");
    pickRegion("全部");
    EXPECT_EQ(rows(view), (QStringList { "🏳 首尔 Seoul", "🏳 香港 02", "[全部]", "[韩国]", "[香港]" }));
}

std::optional<AppSettings> savedSettings()
{
    return AppPaths::read<AppSettings>(AppPaths::settings(), 1 << 20);
}

class SettingsViewIntegration : public ServiceWorld { };

// The scale moves in steps of five and is saved only with the rest; duplicate ports are refused
// and nothing is written. File panels answer what the test chose (cancelled ones call nothing);
// the switches show what their operations left.
TEST_F(SettingsViewIntegration, ScalePortsFilePanelsAndSwitches)
{
    const auto resetScale = qScopeGuard([] { theme::setScalePercent(100); });
    SettingsView view(*model);
    std::optional<QString> chosen;
    QList<QUrl> opened;
    SettingsDesktop desktop;
    desktop.chooseImportFile = desktop.chooseExportFile = [&](QWidget *) { return chosen; };
    desktop.openFolder = [&](const QUrl &folder) { return opened << folder, true; };
    view.setDesktop(desktop);
    view.resize(760, 1400);
    view.show();
    const auto typePort = [&](const QString &title, const QString &digits) {
        for (PortField *field : view.findChildren<PortField *>())
            if (field->title() == title) {
                field->spinBox()->setFocus();
                field->spinBox()->selectAll();
                QTest::keyClicks(field->spinBox(), digits);
            }
    };

    QSlider *slider = view.scaleSlider();
    slider->setFocus();
    for (Qt::Key key : { Qt::Key_Home, Qt::Key_Right })
        QTest::keyClick(slider, key);
    EXPECT_EQ(model->settings().uiScalePercent, 95);
    slider->setSliderDown(true);
    slider->setSliderPosition(slider->minimum() + 3);
    slider->setSliderDown(false);
    EXPECT_EQ(model->settings().uiScalePercent, 105);
    typePort("SOCKS5", QString::number(model->settings().mixedPort));
    ASSERT_TRUE(press(&view, "保存设置"));
    ASSERT_TRUE(waitUntil([&] { return model->alertMessage().has_value(); }));
    EXPECT_FALSE(savedSettings());
    EXPECT_EQ(theme::scalePercent(), 100);
    model->setAlertMessage(std::nullopt);
    typePort("SOCKS5", "7893");
    ASSERT_TRUE(press(&view, "保存设置"));
    ASSERT_TRUE(waitUntil([&] { return savedSettings().has_value(); }));
    EXPECT_EQ(savedSettings()->socksPort, 7893);
    EXPECT_EQ(savedSettings()->uiScalePercent, 105);
    EXPECT_TRUE(waitUntil([&] { return theme::scalePercent() == 105; }));

    const QString status = model->statusMessage();
    ASSERT_TRUE(press(&view, "导入安全设置…"));
    ASSERT_TRUE(press(&view, "导出安全设置…"));
    await(model->flushStorage());
    await(Peer::settingsStore(*model).loadSettings());
    EXPECT_EQ(model->statusMessage(), status) << "a cancelled panel did something";
    chosen = m_dir.filePath(QStringLiteral("设置.json"));
    model->editPorts(8000, 8001, 8002);
    ASSERT_TRUE(press(&view, "导出安全设置…"));
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage() == "安全设置已导出"; }));
    model->editPorts(7890, 7891, 9090);
    ASSERT_TRUE(press(&view, "导入安全设置…"));
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage() == "设置已导入"; }));
    EXPECT_EQ(model->settings().mixedPort, 8000);
    ASSERT_TRUE(press(&view, "打开诊断日志"));
    EXPECT_EQ(opened.value(0), QUrl::fromLocalFile(AppPaths::logs()));

    ASSERT_TRUE(press(&view, "启动后自动连接"));
    ASSERT_TRUE(waitUntil([] { return savedSettings() && savedSettings()->autoConnect; }));
    // No notification server answers on this bus: the switch goes back off by itself.
    QAbstractButton *notifications = findButton(&view, "显示系统通知");
    QTest::mouseClick(notifications, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !notifications->isChecked(); }, 10000));
    ASSERT_TRUE(press(&view, "自动选择延迟较低的节点"));
    // The operation ends with its status line; the model must outlive it.
    ASSERT_TRUE(waitUntil([&] {
        return savedSettings() && !savedSettings()->smartSelection
            && model->statusMessage() == "可在节点页手动选择节点";
    }));
}

// The plan card's buy button for a plan.
QPushButton *buyButton(const QWidget &view, const QString &plan)
{
    for (QPushButton *button : view.findChildren<QPushButton *>())
        if (button->isVisibleTo(&view) && button->text() == "立即购买"
            && button->accessibleDescription().startsWith(plan + u' '))
            return button;
    return nullptr;
}

// Whether the sheet shows a QR code, drawn at its own size (a scaled code may not scan).
bool showsCode(const CheckoutView &view)
{
    for (const QLabel *label : view.findChildren<QLabel *>())
        if (label->accessibleName() == "付款二维码" && label->isVisibleTo(&view) && !label->pixmap().isNull())
            return label->pixmap().deviceIndependentSize().toSize() == label->size();
    return false;
}

class PaymentPagesIntegration : public ServiceWorld {
protected:
    void setStatus(const char *status)
    {
        simulator.admin(
            "order-status", { { "orderNo", model->currentOrder()->orderNo.toStdString() }, { "status", status } });
    }
};

// The plans loaded again after a failure, in the service's order; an order the sheet waited for,
// closed and resumed from both pages, paid by the service while no one touches the sheet; then
// the rights (and the dashboard's traffic card) and the account refreshed; an expired and a
// codeless order; signed out.
TEST_F(PaymentPagesIntegration, PlansAnOrderPaidThenTheRightsAndTheAccountRefreshed)
{
    signIn();
    simulator.fault("/api/v1/plans", { { "status", 500 }, { "times", 1 } });
    await(model->refreshPlans(true));
    MembershipView membership(*model);
    AccountView account(*model);
    CheckoutView sheet(*model);
    MembershipTrafficCard card(*model);
    for (QWidget *page : { static_cast<QWidget *>(&membership), static_cast<QWidget *>(&account) }) {
        page->resize(560, 900);
        page->show();
    }
    ASSERT_TRUE(press(&membership, "重新加载"));
    ASSERT_TRUE(waitUntil([&] { return buyButton(membership, "月度会员"); }));
    const QStringList texts = visibleTexts(&membership);
    EXPECT_LT(texts.indexOf("终身会员"), texts.indexOf("月度会员"));
    EXPECT_LT(texts.indexOf("月度会员"), texts.indexOf("季度会员"));
    EXPECT_EQ(membership.planColumns(), 2);
    membership.resize(1100, 900);
    EXPECT_EQ(membership.planColumns(), 3);

    model->setShowCheckout(true);
    sheet.show();
    EXPECT_TRUE(showsText(&sheet, "正在创建订单…"));
    QTest::mouseClick(buyButton(membership, "月度会员"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return showsCode(sheet); }));
    ASSERT_TRUE(press(&sheet, "在浏览器打开受信任收银台"));
    ASSERT_TRUE(waitUntil([&] { return opened.size() == 1; }));
    ASSERT_TRUE(press(&sheet, "关闭窗口"));
    for (QWidget *page : { static_cast<QWidget *>(&membership), static_cast<QWidget *>(&account) }) {
        EXPECT_TRUE(showsText(page, model->currentOrder()->orderNo) && showsText(page, "待支付"));
        model->setShowCheckout(false);
        ASSERT_TRUE(press(page, "继续付款"));
        EXPECT_TRUE(model->showCheckout());
    }
    sheet.show();
    setStatus("paid");
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage() == "开通成功"; }, 10000));
    EXPECT_FALSE(showsCode(sheet));
    EXPECT_FALSE(showsText(&membership, "最近订单"));
    EXPECT_FALSE(findButton(&account, "继续付款"));

    // The rights' refresh brings the traffic in: a quarter of the monthly plan's 200 GB used.
    simulator.admin("membership",
        { { "account", member }, { "planId", "monthly" }, { "downloadBytes", 50LL * 1024 * 1024 * 1024 } });
    ASSERT_TRUE(press(&membership, "刷新权益"));
    ASSERT_TRUE(waitUntil([&] {
        auto *bar = membership.findChild<QProgressBar *>();
        return bar && bar->isVisibleTo(&membership) && bar->value() == 250;
    }));
    EXPECT_EQ(card.findChild<QProgressBar *>()->value(), 250);
    // The account's refresh shows it is working and takes no second press.
    simulator.fault("/api/v1/me", { { "delayMs", 500 }, { "times", 1 } });
    const qsizetype asked = requestsTo("/api/v1/me").size();
    QAbstractButton *refresh = findButton(&account, "刷新");
    ASSERT_TRUE(press(&account, "刷新"));
    EXPECT_FALSE(refresh->isEnabled());
    QTest::mouseClick(refresh, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return refresh->isEnabled(); }));
    EXPECT_EQ(requestsTo("/api/v1/me").size(), asked + 1);
    // An order the service ends unpaid stops the waiting; one sent without a code offers the browser.
    await(model->createOrder(plan("monthly"), "wechat"));
    setStatus("expired");
    ASSERT_TRUE(waitUntil([&] { return showsText(&sheet, "订单已过期"); }, 10000));
    EXPECT_FALSE(showsText(&sheet, "正在核验支付结果…"));
    simulator.fault("/api/v1/orders",
        { { "status", 200 }, { "contentType", "application/json" },
            { "body", R"({"orderNo":"VN-NOCODE","method":"wechat","status":"pending","amountFen":2500})" } });
    await(model->createOrder(plan("monthly"), "wechat"));
    EXPECT_TRUE(showsText(&sheet, "二维码暂不可用"));
    EXPECT_TRUE(findButton(&sheet, "在浏览器打开受信任收银台"));
    ASSERT_TRUE(press(&account, "退出账号"));
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage() == "已退出账号"; }));
    // Signed out, the account page offers the sheet, to sign in with no old message.
    model->setAuthenticationErrorMessage(QStringLiteral("两次输入的密码不一致"));
    ASSERT_TRUE(press(&account, "登录 / 注册"));
    EXPECT_EQ(model->authenticationMode(), AuthenticationMode::login);
    EXPECT_FALSE(model->authenticationErrorMessage());
}

// What xclip reads from the clipboard; our event loop turns meanwhile to hand the text over.
QString clipboardOfX()
{
    QProcess xclip;
    xclip.start(
        QStringLiteral("xclip"), { QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard") });
    waitUntil([&] { return xclip.state() == QProcess::NotRunning; }, 10000);
    return QString::fromUtf8(xclip.readAllStandardOutput());
}

TEST(TerminalCommandClipboard, TheDashboardAndTheTrayMenuCopyItWhileConnected)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server (ctest runs it under Xvfb)";
    StagedModel model;
    model.becomeMember();
    const auto useMixedPort = [&](int port) {
        AppSettings settings = model.settings();
        settings.mixedPort = port;
        model.setSettings(settings);
        return QStringLiteral("export http_proxy=http://127.0.0.1:%1 https_proxy=http://127.0.0.1:%1 "
                              "all_proxy=socks5://127.0.0.1:%1 no_proxy=localhost,127.0.0.1,::1")
            .arg(port);
    };
    QString command = useMixedPort(17890);
    model.setIsConnected(true);
    DashboardView view(model);
    view.show();
    QPushButton *copy = view.speedCard()->copyButton();
    QTest::mouseClick(copy, Qt::LeftButton);
    EXPECT_EQ(copy->text(), "已复制");
    EXPECT_EQ(clipboardOfX(), command);

    command = useMixedPort(17891);
    StatusMenuView menu(model);
    QSignalSpy copied(&menu, &StatusMenuView::terminalCommandCopied);
    ASSERT_TRUE(menuAction(menu.menu(), "复制终端代理命令"));
    menuAction(menu.menu(), "复制终端代理命令")->trigger();
    EXPECT_EQ(clipboardOfX(), command);
    EXPECT_EQ(copied.count(), 1);
    model.setIsConnected(false);
    EXPECT_EQ(menuAction(menu.menu(), "复制终端代理命令"), nullptr);
    EXPECT_FALSE(copy->isVisible());
}

constexpr qint64 GB = 1024LL * 1024 * 1024;

// Duration first, then traffic and devices from the numbers (never from the marketing lines),
// then the plan's own lines once each.
TEST(PlanFeatures, DurationTrafficDevicesThenTheOwnLinesPricesAndOrders)
{
    struct Case {
        const char *name;
        std::optional<bool> lifetime;
        std::optional<qint64> days, traffic, devices;
        QStringList own, shown;
    };
    const Case cases[] = {
        { "lifetime wins over days", true, 30, {}, {}, {}, { "长期有效", "不限流量" } },
        { "no days", false, {}, {}, {}, {}, { "以套餐说明为准", "不限流量" } },
        { "zero days", false, 0, {}, {}, {}, { "以套餐说明为准", "不限流量" } },
        { "metered", {}, 30, 200 * GB, 3,
            { "全部地区线路", "每月 150 gb 高速流量", "最多 5 台设备同时在线", "全部地区线路" },
            { "30 天", "200 GB", "3 台设备", "全部地区线路" } },
        { "unlimited", {}, 365, 0, 0, { "不限流量", "优先客服" }, { "365 天", "不限流量", "优先客服" } },
        { "one decimal", {}, 90, GB * 3 / 2, {}, {}, { "90 天", "1.5 GB" } },
    };
    for (const Case &c : cases) {
        Plan plan;
        std::tie(plan.lifetime, plan.durationDays, plan.trafficBytes, plan.deviceLimit, plan.features)
            = std::tie(c.lifetime, c.days, c.traffic, c.devices, c.own);
        EXPECT_EQ(displayFeatures(plan), c.shown) << c.name;
    }
    EXPECT_EQ(priceText(59805), "¥598.05");
}

QStringList names(const QList<NodeItem> &nodes)
{
    QStringList list;
    for (const NodeItem &item : nodes)
        list << item.name;
    return list;
}

// The search is trimmed, case-blind and looks at the name and the region; the region narrows
// its matches; the order is kept. Regions are distinct and sorted after "全部".
TEST(NodeFilters, RegionsSearchOrderAndLatency)
{
    const QList<NodeItem> sample { node("香港 01", "香港", 80), node("VEYRA-AWS-TOKYO-01", "日本", 120),
        node("大阪 02", "日本", -1), node("Relay", "Tokyo relay", 300), node("香港 02", "香港", 0) };
    EXPECT_EQ(regionChoices(sample.mid(0, 3)), (QStringList { "全部", "日本", "香港" }));
    struct Case {
        const char *search, *region;
        QStringList found;
    };
    const Case cases[] = {
        { "  tokyo ", "全部", { "VEYRA-AWS-TOKYO-01", "Relay" } }, { "tokyo", "日本", { "VEYRA-AWS-TOKYO-01" } },
        { "   ", "香港", { "香港 01", "香港 02" } }, { "日本", "全部", { "VEYRA-AWS-TOKYO-01", "大阪 02" } },
        { "", "新加坡", {} }, // a region no node has any more matches nothing
    };
    for (const Case &c : cases)
        EXPECT_EQ(names(filteredNodes(sample, QString::fromUtf8(c.search), QString::fromUtf8(c.region))), c.found)
            << '"' << c.search << "\" in " << c.region;

    // By shown latency, unmeasured last, ties by name: Tokyo's 120 ms shows as 70 (its preference).
    EXPECT_EQ(names(sortedNodes(QList<NodeItem>(sample) << node("A 节点", "其他地区", 80))),
        (QStringList { "VEYRA-AWS-TOKYO-01", "A 节点", "香港 01", "Relay", "大阪 02", "香港 02" }));
    EXPECT_EQ(latencyText(sample[1]), "70 ms");
    EXPECT_EQ(latencyText(sample[4]), "未测速");
}

} // namespace
