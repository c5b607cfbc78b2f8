// The membership page (plans, the payment method, buying, the rights), the account page and the
// checkout sheet, which follows the order as polling publishes it: only the service's "paid"
// shows success, and the pages lead back to an order while it can be paid.
#include "AccountView.h"
#include "CheckoutView.h"
#include "MembershipView.h"

#include "ServiceWorld.h"
#include "UiTestSupport.h"

#include <QProgressBar>
#include <QPushButton>
#include <QTest>

using namespace veyra;
using namespace veyra::test;
using namespace veyra::ui;

namespace {

// The plan cards' buy buttons, each with the plan it buys.
QMap<QString, QPushButton *> buyButtons(const QWidget &view)
{
    QMap<QString, QPushButton *> found;
    for (QPushButton *button : view.findChildren<QPushButton *>())
        if (button->isVisibleTo(&view) && button->text() == "立即购买")
            found.insert(button->accessibleDescription().section(QLatin1Char(' '), 0, 0), button);
    return found;
}

// The shown QR code, if any.
const QLabel *shownCode(const CheckoutView &view)
{
    for (const QLabel *label : view.findChildren<QLabel *>())
        if (label->accessibleName() == "付款二维码" && label->isVisibleTo(&view) && !label->pixmap().isNull())
            return label;
    return nullptr;
}

TEST(AccountView, SignedOutOffersTheSignInSheet)
{
    AppModel model;
    AccountView view(model);
    view.show();
    EXPECT_FALSE(showsText(&view, "个人中心"));
    // Whatever an earlier visit to the sheet left, it opens to sign in, with no old message.
    model.setAuthenticationMode(AuthenticationMode::registration);
    model.setAuthenticationErrorMessage(QStringLiteral("两次输入的密码不一致"));
    ASSERT_TRUE(press(&view, "登录 / 注册"));
    EXPECT_TRUE(model.showAuthentication());
    EXPECT_EQ(model.authenticationMode(), AuthenticationMode::login);
    EXPECT_FALSE(model.authenticationErrorMessage());
}

TEST(MembershipView, OnlyTheOfferedPaymentMethodsCanBeChosen)
{
    AppModel model;
    MembershipView view(model);
    EXPECT_EQ(view.paymentMethod(), "wechat");
    view.setPaymentMethod("alipay");
    EXPECT_TRUE(findButton(&view, "支付宝")->isChecked());
    view.setPaymentMethod("card");
    EXPECT_EQ(view.paymentMethod(), "alipay");
}

class PaymentPagesIntegration : public ServiceWorld {
protected:
    void setStatus(const char *status)
    {
        simulator.admin(
            "order-status", { { "orderNo", model->currentOrder()->orderNo.toStdString() }, { "status", status } });
    }
};

// One ordinary account on the membership and account pages and the checkout sheet: the plans,
// loaded again after a failure; a monthly order scanned, closed and resumed from both pages, and
// paid by the service while no one touches the sheet; then the rights and the account refreshed.
TEST_F(PaymentPagesIntegration, PlansAnOrderPaidThenTheRightsAndTheAccountRefreshed)
{
    signIn();
    simulator.fault("/api/v1/plans", { { "status", 500 }, { "times", 1 } });
    await(model->refreshPlans(true));
    MembershipView membership(*model);
    AccountView account(*model);
    CheckoutView sheet(*model);
    const auto trafficBar = [&] {
        QProgressBar *bar = membership.findChild<QProgressBar *>();
        return bar && bar->isVisibleTo(&membership) ? bar : nullptr;
    };
    for (QWidget *page : { static_cast<QWidget *>(&membership), static_cast<QWidget *>(&account) }) {
        page->resize(560, 900);
        page->show();
        EXPECT_FALSE(showsText(page, "最近订单"));
    }
    for (const QString &shown : { QStringLiteral("个人中心"), QString::fromLatin1(member), QStringLiteral("普通账号") })
        EXPECT_TRUE(showsText(&account, shown)) << shown.toStdString();
    EXPECT_TRUE(showsText(&membership, "需要有效会员"));
    EXPECT_FALSE(trafficBar()) << "no share without a plan and a figure";
    ASSERT_TRUE(showsText(&membership, "暂时无法加载套餐"));
    EXPECT_TRUE(buyButtons(membership).isEmpty());

    ASSERT_TRUE(press(&membership, "重新加载"));
    ASSERT_TRUE(waitUntil([&] { return buyButtons(membership).size() == 4; }));
    EXPECT_FALSE(showsText(&membership, "暂时无法加载套餐"));
    const QStringList texts = visibleTexts(&membership);
    // In the service's order, with prices and computed features.
    EXPECT_LT(texts.indexOf("终身会员"), texts.indexOf("月度会员"));
    EXPECT_LT(texts.indexOf("月度会员"), texts.indexOf("季度会员"));
    for (const char *shown : { "¥598.00", "¥25.00", "长期有效", "200 GB" })
        EXPECT_TRUE(texts.contains(QString::fromUtf8(shown))) << shown;
    EXPECT_EQ(membership.planColumns(), 2);
    membership.resize(1100, 900);
    EXPECT_EQ(membership.planColumns(), 3);

    // Opened before the service has answered, the sheet waits for the order.
    model->setShowCheckout(true);
    sheet.show();
    EXPECT_TRUE(showsText(&sheet, "正在创建订单…"));
    QTest::mouseClick(buyButtons(membership).value("月度会员"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return model->currentOrder().has_value() && !model->isBusy(); }));
    EXPECT_EQ(model->currentOrder()->method, "wechat");
    const QLabel *code = shownCode(sheet);
    ASSERT_TRUE(code);
    // Drawn at its own size: a scaled code may not scan.
    EXPECT_EQ(code->pixmap().deviceIndependentSize().toSize(), code->size());
    for (const char *shown : { "月度会员", "¥25.00", "正在核验支付结果…" })
        EXPECT_TRUE(showsText(&sheet, QString::fromUtf8(shown))) << shown;
    EXPECT_TRUE(opened.isEmpty());
    ASSERT_TRUE(press(&sheet, "在浏览器打开受信任收银台"));
    ASSERT_TRUE(waitUntil([&] { return opened.size() == 1; }));

    ASSERT_TRUE(press(&sheet, "关闭窗口"));
    ASSERT_FALSE(model->showCheckout());
    EXPECT_FALSE(sheet.isVisible());
    for (QWidget *page : { static_cast<QWidget *>(&membership), static_cast<QWidget *>(&account) }) {
        for (const QString &shown :
            { QStringLiteral("最近订单"), model->currentOrder()->orderNo, QStringLiteral("待支付") })
            EXPECT_TRUE(showsText(page, shown)) << shown.toStdString();
        model->setShowCheckout(false);
        ASSERT_TRUE(press(page, "继续付款"));
        EXPECT_TRUE(model->showCheckout());
    }

    sheet.show();
    setStatus("paid");
    ASSERT_TRUE(waitUntil([&] { return showsText(&sheet, "开通成功"); }, 10000));
    EXPECT_FALSE(showsText(&sheet, "正在核验支付结果…"));
    EXPECT_FALSE(shownCode(sheet));
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage() == "开通成功"; }));
    EXPECT_FALSE(showsText(&membership, "最近订单"));
    EXPECT_FALSE(showsText(&membership, "需要有效会员"));
    EXPECT_TRUE(showsText(&membership, model->membershipStatusText()));
    EXPECT_TRUE(showsText(&account, "已支付"));
    EXPECT_TRUE(showsText(&account, "有效会员"));
    EXPECT_FALSE(findButton(&account, "继续付款"));
    ASSERT_TRUE(press(&sheet, "完成"));
    EXPECT_FALSE(model->showCheckout());
    EXPECT_FALSE(sheet.isVisible());

    // The rights' refresh brings the traffic in: a quarter of the monthly plan's 200 GB used.
    simulator.admin("membership",
        { { "account", member }, { "planId", "monthly" }, { "uploadBytes", 0 },
            { "downloadBytes", 50LL * 1024 * 1024 * 1024 } });
    ASSERT_TRUE(press(&membership, "刷新权益"));
    ASSERT_TRUE(waitUntil([&] { return trafficBar() && trafficBar()->value() == 250; }));

    // The account's refresh shows it is working and takes no second press.
    simulator.fault("/api/v1/me", { { "delayMs", 500 }, { "times", 1 } });
    const qsizetype asked = requestsTo("/api/v1/me").size();
    QAbstractButton *refresh = findButton(&account, "刷新");
    ASSERT_TRUE(press(&account, "刷新"));
    EXPECT_EQ(refresh->text(), "正在刷新…");
    EXPECT_FALSE(refresh->isEnabled());
    QTest::mouseClick(refresh, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return refresh->text() == "刷新"; }));
    EXPECT_TRUE(refresh->isEnabled());
    EXPECT_EQ(requestsTo("/api/v1/me").size(), asked + 1);

    ASSERT_TRUE(press(&account, "退出账号"));
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage() == "已退出账号"; }));
    EXPECT_FALSE(showsText(&account, "个人中心"));
}

// An Alipay order, and then an order the service sent without a code: both point to the browser.
TEST_F(PaymentPagesIntegration, WithoutACodeTheBrowserIsOffered)
{
    signIn({}, true);
    MembershipView membership(*model);
    CheckoutView view(*model);
    membership.show();
    ASSERT_TRUE(press(&membership, "支付宝"));
    QTest::mouseClick(buyButtons(membership).value("季度会员"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return model->currentOrder().has_value() && !model->isBusy(); }));
    EXPECT_EQ(model->currentOrder()->method, "alipay");
    EXPECT_EQ(requestsTo("/api/v1/orders").size(), 1);
    ASSERT_TRUE(model->showCheckout());
    view.show();
    EXPECT_TRUE(showsText(&view, "已打开支付宝官方收银台"));
    EXPECT_FALSE(shownCode(view));
    EXPECT_FALSE(showsText(&view, "二维码暂不可用"));
    ASSERT_EQ(opened.size(), 1);
    ASSERT_TRUE(press(&view, "重新打开支付宝收银台"));
    EXPECT_TRUE(waitUntil([&] { return opened.size() == 2; }));

    // The service ends it unpaid: no more waiting for a result that will not come.
    setStatus("expired");
    ASSERT_TRUE(waitUntil([&] { return showsText(&view, "订单已过期"); }, 10000));
    EXPECT_FALSE(showsText(&view, "正在核验支付结果…"));
    EXPECT_FALSE(showsText(&view, "开通成功"));
    EXPECT_FALSE(model->membershipActive());

    simulator.fault("/api/v1/orders",
        { { "status", 200 }, { "contentType", "application/json" },
            { "body", R"({"orderNo":"VN-NOCODE","method":"wechat","status":"pending","amountFen":2500})" } });
    await(model->createOrder(plan("monthly"), "wechat"));
    ASSERT_EQ(model->currentOrder()->orderNo, "VN-NOCODE");
    EXPECT_TRUE(showsText(&view, "二维码暂不可用"));
    EXPECT_TRUE(showsText(&view, "会员")); // the service named no plan
    EXPECT_TRUE(findButton(&view, "在浏览器打开受信任收银台"));
    EXPECT_FALSE(shownCode(view));
}

} // namespace
