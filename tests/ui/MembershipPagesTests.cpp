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

// The plans loaded again after a failure, in the service's order; a monthly order scanned,
// closed and resumed from both pages, paid by the service while no one touches the sheet; then
// the rights and the account refreshed, and signed out from the account page.
TEST_F(PaymentPagesIntegration, PlansAnOrderPaidThenTheRightsAndTheAccountRefreshed)
{
    signIn();
    simulator.fault("/api/v1/plans", { { "status", 500 }, { "times", 1 } });
    await(model->refreshPlans(true));
    MembershipView membership(*model);
    AccountView account(*model);
    CheckoutView sheet(*model);
    for (QWidget *page : { static_cast<QWidget *>(&membership), static_cast<QWidget *>(&account) }) {
        page->resize(560, 900);
        page->show();
    }
    EXPECT_TRUE(showsText(&account, QString::fromLatin1(member)));
    ASSERT_FALSE(buyButton(membership, "月度会员"));
    ASSERT_TRUE(press(&membership, "重新加载"));
    ASSERT_TRUE(waitUntil([&] { return buyButton(membership, "月度会员"); }));
    const QStringList texts = visibleTexts(&membership);
    EXPECT_LT(texts.indexOf("终身会员"), texts.indexOf("月度会员"));
    EXPECT_LT(texts.indexOf("月度会员"), texts.indexOf("季度会员"));
    EXPECT_EQ(membership.planColumns(), 2);
    membership.resize(1100, 900);
    EXPECT_EQ(membership.planColumns(), 3);

    // Opened before the service has answered, the sheet waits for the order.
    model->setShowCheckout(true);
    sheet.show();
    EXPECT_TRUE(showsText(&sheet, "正在创建订单…"));
    QTest::mouseClick(buyButton(membership, "月度会员"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return model->currentOrder().has_value() && !model->isBusy(); }));
    EXPECT_EQ(model->currentOrder()->method, "wechat");
    EXPECT_TRUE(showsCode(sheet));
    EXPECT_TRUE(showsText(&sheet, "月度会员"));
    ASSERT_TRUE(press(&sheet, "在浏览器打开受信任收银台"));
    ASSERT_TRUE(waitUntil([&] { return opened.size() == 1; }));
    ASSERT_TRUE(press(&sheet, "关闭窗口"));
    EXPECT_FALSE(sheet.isVisible());
    for (QWidget *page : { static_cast<QWidget *>(&membership), static_cast<QWidget *>(&account) }) {
        EXPECT_TRUE(showsText(page, model->currentOrder()->orderNo));
        model->setShowCheckout(false);
        ASSERT_TRUE(press(page, "继续付款"));
        EXPECT_TRUE(model->showCheckout());
    }

    sheet.show();
    setStatus("paid");
    ASSERT_TRUE(waitUntil([&] { return showsText(&sheet, "开通成功"); }, 10000));
    EXPECT_FALSE(showsCode(sheet));
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage() == "开通成功"; }));
    EXPECT_FALSE(showsText(&membership, "最近订单"));
    EXPECT_FALSE(findButton(&account, "继续付款"));
    ASSERT_TRUE(press(&sheet, "完成"));
    EXPECT_FALSE(sheet.isVisible());

    // The rights' refresh brings the traffic in: a quarter of the monthly plan's 200 GB used.
    simulator.admin("membership",
        { { "account", member }, { "planId", "monthly" }, { "downloadBytes", 50LL * 1024 * 1024 * 1024 } });
    ASSERT_TRUE(press(&membership, "刷新权益"));
    ASSERT_TRUE(waitUntil([&] {
        auto *bar = membership.findChild<QProgressBar *>();
        return bar && bar->isVisibleTo(&membership) && bar->value() == 250;
    }));
    // The account's refresh shows it is working and takes no second press.
    simulator.fault("/api/v1/me", { { "delayMs", 500 }, { "times", 1 } });
    const qsizetype asked = requestsTo("/api/v1/me").size();
    QAbstractButton *refresh = findButton(&account, "刷新");
    ASSERT_TRUE(press(&account, "刷新"));
    EXPECT_FALSE(refresh->isEnabled());
    QTest::mouseClick(refresh, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return refresh->isEnabled(); }));
    EXPECT_EQ(requestsTo("/api/v1/me").size(), asked + 1);
    ASSERT_TRUE(press(&account, "退出账号"));
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage() == "已退出账号"; }));
    // Signed out, the account page offers the sheet, to sign in with no old message.
    model->setAuthenticationErrorMessage(QStringLiteral("两次输入的密码不一致"));
    ASSERT_TRUE(press(&account, "登录 / 注册"));
    EXPECT_EQ(model->authenticationMode(), AuthenticationMode::login);
    EXPECT_FALSE(model->authenticationErrorMessage());
}

// An Alipay order points to the browser and stops waiting once the service ends it unpaid; an
// order the service sent without a code offers the browser.
TEST_F(PaymentPagesIntegration, WithoutACodeTheBrowserIsOffered)
{
    signIn({}, true);
    MembershipView membership(*model);
    CheckoutView view(*model);
    membership.show();
    ASSERT_TRUE(press(&membership, "支付宝"));
    QTest::mouseClick(buyButton(membership, "季度会员"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return model->currentOrder().has_value() && !model->isBusy(); }));
    EXPECT_EQ(model->currentOrder()->method, "alipay");
    view.show();
    EXPECT_FALSE(showsCode(view));
    ASSERT_EQ(opened.size(), 1);
    ASSERT_TRUE(press(&view, "重新打开支付宝收银台"));
    EXPECT_TRUE(waitUntil([&] { return opened.size() == 2; }));
    setStatus("expired");
    ASSERT_TRUE(waitUntil([&] { return showsText(&view, "订单已过期"); }, 10000));
    EXPECT_FALSE(showsText(&view, "正在核验支付结果…"));

    simulator.fault("/api/v1/orders",
        { { "status", 200 }, { "contentType", "application/json" },
            { "body", R"({"orderNo":"VN-NOCODE","method":"wechat","status":"pending","amountFen":2500})" } });
    await(model->createOrder(plan("monthly"), "wechat"));
    EXPECT_TRUE(showsText(&view, "二维码暂不可用"));
    EXPECT_TRUE(findButton(&view, "在浏览器打开受信任收银台"));
}

} // namespace
