// The membership page: plans from the service, the payment method, buying, and the rights.
// The way back to an order that waits for its payment is checked with the checkout sheet.
#include "MembershipView.h"

#include "ServiceWorld.h"
#include "UiTestSupport.h"

#include <QProgressBar>
#include <QPushButton>
#include <QTest>

using namespace veyra;
using namespace veyra::test;
using veyra::ui::MembershipView;

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

class MembershipViewIntegration : public ServiceWorld { };

TEST_F(MembershipViewIntegration, PlansAreShownFromTheServiceAndBoughtWithTheChosenMethod)
{
    signIn();
    simulator.fault("/api/v1/plans", { { "status", 500 }, { "times", 1 } });
    await(model->refreshPlans(true));
    MembershipView view(*model);
    view.resize(560, 900);
    view.show();
    ASSERT_TRUE(showsText(&view, "暂时无法加载套餐"));
    EXPECT_TRUE(buyButtons(view).isEmpty());

    ASSERT_TRUE(press(&view, "重新加载"));
    ASSERT_TRUE(waitUntil([&] { return buyButtons(view).size() == 4; }));
    EXPECT_FALSE(showsText(&view, "暂时无法加载套餐"));
    const QStringList texts = visibleTexts(&view);
    // In the service's order, with prices and computed features.
    EXPECT_LT(texts.indexOf("终身会员"), texts.indexOf("月度会员"));
    EXPECT_LT(texts.indexOf("月度会员"), texts.indexOf("季度会员"));
    for (const char *shown : { "¥598.00", "¥25.00", "长期有效", "200 GB" })
        EXPECT_TRUE(texts.contains(QString::fromUtf8(shown))) << shown;
    EXPECT_EQ(view.planColumns(), 2);
    view.resize(1100, 900);
    EXPECT_EQ(view.planColumns(), 3);

    ASSERT_TRUE(press(&view, "支付宝"));
    QTest::mouseClick(buyButtons(view).value("季度会员"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return model->currentOrder().has_value() && !model->isBusy(); }));
    EXPECT_EQ(model->currentOrder()->method, "alipay");
    EXPECT_EQ(requestsTo("/api/v1/orders").size(), 1);
    EXPECT_TRUE(model->showCheckout());
}

TEST_F(MembershipViewIntegration, RefreshingTheRightsAsksTheService)
{
    signIn({}, true);
    MembershipView view(*model);
    view.show();
    const auto trafficBar = [&] {
        QProgressBar *bar = view.findChild<QProgressBar *>();
        return bar && bar->isVisibleTo(&view) ? bar : nullptr;
    };
    EXPECT_TRUE(showsText(&view, "需要有效会员"));
    EXPECT_FALSE(trafficBar()) << "no share without a plan and a figure";
    // A quarter of the monthly plan's 200 GB used.
    simulator.admin("membership",
        { { "account", member }, { "active", true }, { "planId", "monthly" }, { "uploadBytes", 0 },
            { "downloadBytes", 50LL * 1024 * 1024 * 1024 } });
    ASSERT_TRUE(press(&view, "刷新权益"));
    ASSERT_TRUE(waitUntil([&] { return model->membershipActive(); }));
    EXPECT_FALSE(showsText(&view, "需要有效会员"));
    EXPECT_TRUE(showsText(&view, model->membershipStatusText()));
    ASSERT_TRUE(trafficBar());
    EXPECT_EQ(trafficBar()->value(), 250);
}

} // namespace
