// The checkout sheet follows the order as polling publishes it; only the service's "paid"
// shows success. The pages that lead back to an open order are checked along with it.
#include "AccountView.h"
#include "CheckoutView.h"
#include "MembershipView.h"

#include "ServiceWorld.h"
#include "UiTestSupport.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace veyra;
using namespace veyra::test;
using veyra::ui::AccountView;
using veyra::ui::CheckoutView;
using veyra::ui::MembershipView;

namespace {

// The shown QR code, if any.
const QLabel *shownCode(const CheckoutView &view)
{
    for (const QLabel *label : view.findChildren<QLabel *>())
        if (label->accessibleName() == QStringLiteral("付款二维码") && label->isVisibleTo(&view)
            && !label->pixmap().isNull())
            return label;
    return nullptr;
}

TEST(CheckoutView, WaitsForTheOrderAndClosesInTheModel)
{
    AppModel model;
    model.setShowCheckout(true);
    CheckoutView view(model);
    view.show();
    EXPECT_TRUE(showsText(&view, QStringLiteral("正在创建订单…")));
    QTest::mouseClick(findButton(&view, QStringLiteral("关闭窗口")), Qt::LeftButton);
    EXPECT_FALSE(model.showCheckout());
    EXPECT_FALSE(view.isVisible());
}

class CheckoutViewIntegration : public ServiceWorld {
protected:
    void setStatus(const char *status)
    {
        simulator.admin(QStringLiteral("order-status"),
            { { "orderNo", model->currentOrder()->orderNo.toStdString() }, { "status", status } });
    }
};

// One order from its code to "paid": the sheet, closed and opened again from the account and
// membership pages, which show the order while it can be paid (the account page after that too).
TEST_F(CheckoutViewIntegration, AnOrderIsScannedResumedFromThePagesAndEndsPaid)
{
    signIn({}, true);
    CheckoutView sheet(*model);
    AccountView account(*model);
    MembershipView membership(*model);
    const QList<QWidget *> pages { &account, &membership };
    for (QWidget *page : pages) {
        page->resize(760, 900);
        page->show();
        EXPECT_FALSE(showsText(page, QStringLiteral("最近订单")));
    }
    await(model->createOrder(plan(QStringLiteral("monthly")), QStringLiteral("wechat")));
    ASSERT_TRUE(model->showCheckout());
    sheet.show();
    const QLabel *code = shownCode(sheet);
    ASSERT_TRUE(code);
    // Drawn at its own size: a scaled code may not scan.
    EXPECT_EQ(code->pixmap().deviceIndependentSize().toSize(), code->size());
    for (const char *shown : { "月度会员", "¥25.00", "正在核验支付结果…" })
        EXPECT_TRUE(showsText(&sheet, QString::fromUtf8(shown))) << shown;
    EXPECT_TRUE(opened.isEmpty());
    QTest::mouseClick(findButton(&sheet, QStringLiteral("在浏览器打开受信任收银台")), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return opened.size() == 1; }));

    QTest::mouseClick(findButton(&sheet, QStringLiteral("关闭窗口")), Qt::LeftButton);
    ASSERT_FALSE(model->showCheckout());
    for (QWidget *page : pages) {
        EXPECT_TRUE(showsText(page, QStringLiteral("最近订单")));
        EXPECT_TRUE(showsText(page, model->currentOrder()->orderNo));
        EXPECT_TRUE(showsText(page, QStringLiteral("待支付")));
        QTest::mouseClick(findButton(page, QStringLiteral("继续付款")), Qt::LeftButton);
        EXPECT_TRUE(model->showCheckout());
    }

    // No one touches the sheet: it turns to success when polling brings "paid".
    sheet.show();
    setStatus("paid");
    ASSERT_TRUE(waitUntil([&] { return showsText(&sheet, QStringLiteral("开通成功")); }, 10000));
    EXPECT_FALSE(showsText(&sheet, QStringLiteral("正在核验支付结果…")));
    EXPECT_FALSE(shownCode(sheet));
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage() == QStringLiteral("开通成功"); }));
    EXPECT_FALSE(showsText(&membership, QStringLiteral("最近订单")));
    EXPECT_TRUE(showsText(&account, QStringLiteral("已支付")));
    EXPECT_FALSE(findButton(&account, QStringLiteral("继续付款")));
    QTest::mouseClick(findButton(&sheet, QStringLiteral("完成")), Qt::LeftButton);
    EXPECT_FALSE(model->showCheckout());
    EXPECT_FALSE(sheet.isVisible());
}

TEST_F(CheckoutViewIntegration, AnAlipayOrderPointsToTheBrowserInsteadOfACode)
{
    signIn({}, true);
    await(model->createOrder(plan(QStringLiteral("quarterly")), QStringLiteral("alipay")));
    ASSERT_TRUE(model->currentOrder());
    CheckoutView view(*model);
    view.show();
    EXPECT_TRUE(showsText(&view, QStringLiteral("已打开支付宝官方收银台")));
    EXPECT_FALSE(shownCode(view));
    EXPECT_FALSE(showsText(&view, QStringLiteral("二维码暂不可用")));
    ASSERT_EQ(opened.size(), 1);
    QTest::mouseClick(findButton(&view, QStringLiteral("重新打开支付宝收银台")), Qt::LeftButton);
    EXPECT_TRUE(waitUntil([&] { return opened.size() == 2; }));

    // The service ends it unpaid: no more waiting for a result that will not come.
    setStatus("expired");
    ASSERT_TRUE(waitUntil([&] { return showsText(&view, QStringLiteral("订单已过期")); }, 10000));
    EXPECT_FALSE(showsText(&view, QStringLiteral("正在核验支付结果…")));
    EXPECT_FALSE(showsText(&view, QStringLiteral("开通成功")));
    EXPECT_FALSE(model->membershipActive());
}

TEST_F(CheckoutViewIntegration, WithoutACodeThePageIsOffered)
{
    signIn({}, true);
    simulator.fault(QStringLiteral("/api/v1/orders"),
        { { "status", 200 }, { "contentType", "application/json" },
            { "body", R"({"orderNo":"VN-NOCODE","method":"wechat","status":"pending","amountFen":2500})" } });
    await(model->createOrder(plan(QStringLiteral("monthly")), QStringLiteral("wechat")));
    ASSERT_TRUE(model->currentOrder());
    ASSERT_TRUE(model->checkoutImage().isNull());
    CheckoutView view(*model);
    view.show();
    EXPECT_TRUE(showsText(&view, QStringLiteral("二维码暂不可用")));
    EXPECT_TRUE(showsText(&view, QStringLiteral("会员"))); // the service named no plan
    EXPECT_TRUE(findButton(&view, QStringLiteral("在浏览器打开受信任收银台")));
    EXPECT_FALSE(shownCode(view));
}

} // namespace
