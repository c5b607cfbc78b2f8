// The account page: signed out, an ordinary account, a member, and a refresh; its latest order
// is checked with the checkout sheet.
#include "AccountView.h"

#include "ServiceWorld.h"
#include "UiTestSupport.h"

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
    EXPECT_FALSE(showsText(&view, "个人中心"));
    // Whatever an earlier visit to the sheet left, it opens to sign in, with no old message.
    model.setAuthenticationMode(AuthenticationMode::registration);
    model.setAuthenticationErrorMessage(QStringLiteral("两次输入的密码不一致"));
    ASSERT_TRUE(press(&view, "登录 / 注册"));
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
    for (const QString &shown : { QStringLiteral("个人中心"), QString::fromLatin1(member), QStringLiteral("普通账号") })
        EXPECT_TRUE(showsText(&view, shown)) << shown.toStdString();
    EXPECT_FALSE(showsText(&view, "有效会员"));

    // A refresh shows it is working and takes no second press.
    simulator.admin("membership", { { "account", member }, { "active", true } });
    simulator.fault("/api/v1/me", { { "delayMs", 500 }, { "times", 1 } });
    const qsizetype asked = requestsTo("/api/v1/me").size();
    QAbstractButton *refresh = findButton(&view, "刷新");
    ASSERT_TRUE(press(&view, "刷新"));
    EXPECT_EQ(refresh->text(), "正在刷新…");
    EXPECT_FALSE(refresh->isEnabled());
    QTest::mouseClick(refresh, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return showsText(&view, "有效会员") && refresh->text() == "刷新"; }));
    EXPECT_FALSE(showsText(&view, "普通账号"));
    EXPECT_TRUE(refresh->isEnabled());
    EXPECT_EQ(requestsTo("/api/v1/me").size(), asked + 1);

    ASSERT_TRUE(press(&view, "退出账号"));
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage() == "已退出账号"; }));
    EXPECT_FALSE(showsText(&view, "个人中心"));
}

} // namespace
