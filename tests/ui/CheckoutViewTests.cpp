// The checkout sheet follows the order as polling publishes it; only the service's "paid"
// shows success. The pages that lead back to an open order are checked along with it.
#include "AccountView.h"
#include "CheckoutView.h"
#include "MembershipView.h"

#include "ServiceWorld.h"
#include "UiTestSupport.h"

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
        if (label->accessibleName() == "付款二维码" && label->isVisibleTo(&view) && !label->pixmap().isNull())
            return label;
    return nullptr;
}

class CheckoutViewIntegration : public ServiceWorld {
protected:
    void setStatus(const char *status)
    {
        simulator.admin("order-status", { { "orderNo", model->currentOrder()->orderNo.toStdString() }, { "status", status } });
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
        EXPECT_FALSE(showsText(page, "最近订单"));
    }
    // Opened before the service has answered, the sheet waits for the order.
    model->setShowCheckout(true);
    sheet.show();
    EXPECT_TRUE(showsText(&sheet, "正在创建订单…"));
    await(model->createOrder(plan("monthly"), "wechat"));
    ASSERT_TRUE(model->showCheckout());
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
    for (QWidget *page : pages) {
        for (const QString &shown : { QStringLiteral("最近订单"), model->currentOrder()->orderNo, QStringLiteral("待支付") })
            EXPECT_TRUE(showsText(page, shown)) << shown.toStdString();
        model->setShowCheckout(false);
        ASSERT_TRUE(press(page, "继续付款"));
        EXPECT_TRUE(model->showCheckout());
    }

    // No one touches the sheet: it turns to success when polling brings "paid".
    sheet.show();
    setStatus("paid");
    ASSERT_TRUE(waitUntil([&] { return showsText(&sheet, "开通成功"); }, 10000));
    EXPECT_FALSE(showsText(&sheet, "正在核验支付结果…"));
    EXPECT_FALSE(shownCode(sheet));
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage() == "开通成功"; }));
    EXPECT_FALSE(showsText(&membership, "最近订单"));
    EXPECT_TRUE(showsText(&account, "已支付"));
    EXPECT_FALSE(findButton(&account, "继续付款"));
    ASSERT_TRUE(press(&sheet, "完成"));
    EXPECT_FALSE(model->showCheckout());
    EXPECT_FALSE(sheet.isVisible());
}

// An Alipay order, and then an order the service sent without a code: both point to the browser.
TEST_F(CheckoutViewIntegration, WithoutACodeTheBrowserIsOffered)
{
    signIn({}, true);
    await(model->createOrder(plan("quarterly"), "alipay"));
    ASSERT_TRUE(model->currentOrder());
    CheckoutView view(*model);
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
