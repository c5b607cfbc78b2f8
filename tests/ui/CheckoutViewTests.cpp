// The checkout sheet follows the order as polling publishes it; only the service's "paid"
// shows success.
#include "CheckoutView.h"

#include "ServiceWorld.h"
#include "UiTestSupport.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace veyra;
using namespace veyra::test;
using veyra::ui::CheckoutView;

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

TEST_F(CheckoutViewIntegration, ACodeToScanUntilTheServiceSaysPaid)
{
    signIn({}, true);
    CheckoutView view(*model);
    await(model->createOrder(plan(QStringLiteral("monthly")), QStringLiteral("wechat")));
    ASSERT_TRUE(model->showCheckout());
    view.show();

    const QLabel *code = shownCode(view);
    ASSERT_TRUE(code);
    // Drawn at its own size: a scaled code may not scan.
    EXPECT_EQ(code->pixmap().deviceIndependentSize().toSize(), code->size());
    for (const char *shown : { "月度会员", "¥25.00", "正在核验支付结果…" })
        EXPECT_TRUE(showsText(&view, QString::fromUtf8(shown))) << shown;
    EXPECT_TRUE(opened.isEmpty());
    QTest::mouseClick(findButton(&view, QStringLiteral("在浏览器打开受信任收银台")), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return opened.size() == 1; }));

    // No one touches the sheet: it turns to success when polling brings "paid".
    setStatus("paid");
    ASSERT_TRUE(waitUntil([&] { return showsText(&view, QStringLiteral("开通成功")); }, 10000));
    EXPECT_FALSE(showsText(&view, QStringLiteral("正在核验支付结果…")));
    EXPECT_FALSE(shownCode(view));
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage() == QStringLiteral("开通成功"); }));
    QTest::mouseClick(findButton(&view, QStringLiteral("完成")), Qt::LeftButton);
    EXPECT_FALSE(model->showCheckout());
    EXPECT_FALSE(view.isVisible());
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
