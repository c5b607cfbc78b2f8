// The sign-in sheet: its form, its modes, and what reaches the service.
#include "AuthenticationView.h"

#include "ServiceWorld.h"
#include "UiTestSupport.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace veyra;
using namespace veyra::test;
using veyra::ui::AuthenticationView;

namespace {

class AuthenticationViewIntegration : public ServiceWorld { };

// Registration keeps the first eleven digits of whatever is pasted or typed; signing in keeps
// older account names as they are; any edit clears the last error. The mode buttons switch the
// whole form; the sheet opens in the mode the model asks for. The
// service's refusal is shown until the account is edited; a sign-in that runs cannot be sent
// again. The close button, Esc and the window's close each end the sheet in the model, and no
// password stays in a closed sheet.
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
        model->setAuthenticationErrorMessage(QStringLiteral("账号或密码错误"));
        view.accountField()->clear();
        view.accountField()->insert(QString::fromUtf8(c.inserted));
        QTest::keyClicks(view.accountField(), QString::fromUtf8(c.typed));
        EXPECT_EQ(view.accountField()->text(), c.kept) << c.name;
        EXPECT_EQ(model->authenticationErrorMessage(), std::nullopt) << c.name;
    }
    ASSERT_TRUE(press(&view, "注册"));
    EXPECT_TRUE(view.confirmationField()->isVisible());
    EXPECT_EQ(view.submitButton()->text(), "注册并登录");
    model->setShowAuthentication(true);
    EXPECT_FALSE(view.isRegistering()) << "opened for signing in";
    EXPECT_FALSE(view.confirmationField()->isVisible());

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
    QTest::mouseClick(view.submitButton(), Qt::LeftButton);
    QTest::keyClick(view.passwordField(), Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return model->user().has_value() && !model->isBusy(); }, 10000));
    EXPECT_EQ(requestsTo("/api/v1/auth/login").size(), asked + 1);
    EXPECT_TRUE(view.submitButton()->isEnabled());

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

} // namespace
