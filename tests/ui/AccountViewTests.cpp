// The account page: signed out, an ordinary account, a member, and a refresh; its latest order
// is checked with the checkout sheet.
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

TEST_F(AccountViewIntegration, TheAccountFollowsTheServiceUntilSignedOut)
{
    signIn();
    AccountView view(*model);
    view.resize(760, 560);
    view.show();
    EXPECT_TRUE(showsText(&view, QStringLiteral("个人中心")));
    EXPECT_TRUE(showsText(&view, QString::fromLatin1(member)));
    EXPECT_TRUE(showsText(&view, QStringLiteral("普通账号")));
    EXPECT_FALSE(showsText(&view, QStringLiteral("有效会员")));

    simulator.admin(QStringLiteral("membership"), { { "account", member }, { "active", true } });
    QTest::mouseClick(findButton(&view, QStringLiteral("刷新")), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return showsText(&view, QStringLiteral("有效会员")); }));
    EXPECT_FALSE(showsText(&view, QStringLiteral("普通账号")));

    QTest::mouseClick(findButton(&view, QStringLiteral("退出账号")), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage() == QStringLiteral("已退出账号"); }));
    EXPECT_FALSE(showsText(&view, QStringLiteral("个人中心")));
}

TEST_F(AccountViewIntegration, ARefreshShowsItIsWorkingAndTakesNoSecondPress)
{
    signIn();
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
