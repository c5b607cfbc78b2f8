// The account page: signed out, an ordinary account, a member, and the latest order.
#include "AccountView.h"

#include "ServiceWorld.h"
#include "UiTestSupport.h"

#include <QPushButton>
#include <QTest>

using namespace veyra;
using namespace veyra::test;
using veyra::ui::AccountView;

namespace {

TEST(AccountView, SignedOutOffersTheSignInSheet)
{
    AppModel model;
    AccountView view(model);
    view.show();
    EXPECT_TRUE(showsText(&view, QStringLiteral("登录维拉账号")));
    EXPECT_TRUE(showsText(&view, QStringLiteral("登录后自动获取官方线路，并查看会员、流量和订单状态。")));
    EXPECT_FALSE(showsText(&view, QStringLiteral("个人中心")));
    // Whatever an earlier visit to the sheet left, it opens to sign in, with no old message.
    model.setAuthenticationMode(AuthenticationMode::registration);
    model.setAuthenticationErrorMessage(QStringLiteral("两次输入的密码不一致"));
    QTest::mouseClick(findButton(&view, QStringLiteral("登录 / 注册")), Qt::LeftButton);
    EXPECT_TRUE(model.showAuthentication());
    EXPECT_EQ(model.authenticationMode(), AuthenticationMode::login);
    EXPECT_FALSE(model.authenticationErrorMessage());
}

class AccountViewIntegration : public ServiceWorld { };

TEST_F(AccountViewIntegration, TheAccountItsMembershipAndItsLatestOrder)
{
    simulator.admin(QStringLiteral("accounts"), { { "account", member }, { "password", "password123" } });
    await(model->login(QString::fromLatin1(member), QStringLiteral("password123"), false));
    ASSERT_TRUE(model->user());
    AccountView view(*model);
    view.resize(760, 560);
    view.show();

    EXPECT_TRUE(showsText(&view, QStringLiteral("个人中心")));
    EXPECT_TRUE(showsText(&view, QString::fromLatin1(member)));
    EXPECT_TRUE(showsText(&view, QStringLiteral("普通账号")));
    EXPECT_FALSE(showsText(&view, QStringLiteral("有效会员")));
    EXPECT_TRUE(showsText(&view, QStringLiteral("未开通")));
    EXPECT_TRUE(showsText(&view, QStringLiteral("开通会员后自动获取官方线路")));
    EXPECT_FALSE(showsText(&view, QStringLiteral("最近订单")));

    // An order waiting for its payment can be taken up again.
    await(model->refreshPlans(false));
    Plan monthly;
    for (const Plan &offered : model->plans())
        if (offered.id == QStringLiteral("monthly"))
            monthly = offered;
    await(model->createOrder(monthly, QStringLiteral("wechat")));
    ASSERT_TRUE(model->currentOrder());
    model->setShowCheckout(false);
    EXPECT_TRUE(showsText(&view, QStringLiteral("最近订单")));
    EXPECT_TRUE(showsText(&view, model->currentOrder()->orderNo));
    EXPECT_TRUE(showsText(&view, QStringLiteral("月度会员")));
    EXPECT_TRUE(showsText(&view, QStringLiteral("应用会继续从服务端核验支付结果。")));
    QTest::mouseClick(findButton(&view, QStringLiteral("继续付款")), Qt::LeftButton);
    EXPECT_TRUE(model->showCheckout());

    // Paid on the service: a member now, and the order is no longer offered for payment.
    simulator.admin(QStringLiteral("order-status"),
        { { "orderNo", model->currentOrder()->orderNo.toStdString() }, { "status", "paid" } });
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage() == QStringLiteral("开通成功"); }, 10000));
    EXPECT_TRUE(showsText(&view, QStringLiteral("有效会员")));
    EXPECT_TRUE(showsText(&view, QStringLiteral("已支付")));
    EXPECT_FALSE(findButton(&view, QStringLiteral("继续付款")));
    EXPECT_TRUE(waitUntil([&] { return showsText(&view, QStringLiteral("官方线路已安全下发")); }));
    EXPECT_TRUE(showsText(&view, QStringLiteral("月度会员")));

    // The service takes the membership away; "刷新" shows it.
    simulator.admin(QStringLiteral("membership"), { { "account", member }, { "active", false } });
    QTest::mouseClick(findButton(&view, QStringLiteral("刷新")), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return showsText(&view, QStringLiteral("开通会员后自动获取官方线路")); }));
    EXPECT_TRUE(showsText(&view, QStringLiteral("普通账号")));

    QTest::mouseClick(findButton(&view, QStringLiteral("退出账号")), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage() == QStringLiteral("已退出账号"); }));
    EXPECT_TRUE(showsText(&view, QStringLiteral("登录维拉账号")));
    EXPECT_FALSE(showsText(&view, QStringLiteral("个人中心")));
}

TEST_F(AccountViewIntegration, ARefreshShowsItIsWorkingAndTakesNoSecondPress)
{
    simulator.admin(QStringLiteral("accounts"), { { "account", member }, { "password", "password123" } });
    await(model->login(QString::fromLatin1(member), QStringLiteral("password123"), false));
    AccountView view(*model);
    view.show();
    const qsizetype asked = requestsTo("/api/v1/me").size();
    simulator.fault(QStringLiteral("/api/v1/me"), { { "delayMs", 500 }, { "times", 1 } });

    QAbstractButton *refresh = findButton(&view, QStringLiteral("刷新"));
    ASSERT_TRUE(refresh);
    QTest::mouseClick(refresh, Qt::LeftButton);
    EXPECT_EQ(refresh->text(), QStringLiteral("正在刷新…"));
    EXPECT_FALSE(refresh->isEnabled());
    ASSERT_TRUE(eventually([&] { return refresh->text() == QStringLiteral("刷新"); }, 5000));
    EXPECT_TRUE(refresh->isEnabled());
    EXPECT_EQ(requestsTo("/api/v1/me").size(), asked + 1);
}

} // namespace
