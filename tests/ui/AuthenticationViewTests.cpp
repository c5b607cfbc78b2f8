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

class AuthenticationViewTest : public DataFolderTest {
protected:
    void clickMode(const QString &text)
    {
        QAbstractButton *segment = findButton(&view, text);
        ASSERT_TRUE(segment) << text.toStdString();
        QTest::mouseClick(segment, Qt::LeftButton);
    }

    AppModel model;
    AuthenticationView view { model };
};

TEST_F(AuthenticationViewTest, RegistrationKeepsOnlyTheFirstElevenDigits)
{
    model.setAuthenticationMode(AuthenticationMode::registration);
    ASSERT_TRUE(view.isRegistering());
    model.setAuthenticationErrorMessage(QStringLiteral("账号错误"));

    // Pasted with hyphens, a blank and one digit too many.
    view.accountField()->insert(QStringLiteral("138-0013-8000 9"));
    EXPECT_EQ(view.accountField()->text(), QStringLiteral("13800138000"));
    EXPECT_EQ(model.authenticationErrorMessage(), std::nullopt);

    // Typed with a stray letter and a twelfth digit; a full-width digit from an input method.
    view.accountField()->clear();
    view.accountField()->insert(QStringLiteral("１"));
    QTest::keyClicks(view.accountField(), QStringLiteral("a3900x0000000"));
    EXPECT_EQ(view.accountField()->text(), QStringLiteral("13900000000"));
}

TEST_F(AuthenticationViewTest, SignInKeepsOlderAccountNames)
{
    ASSERT_FALSE(view.isRegistering());
    model.setAuthenticationErrorMessage(QStringLiteral("账号或密码错误"));
    QTest::keyClicks(view.accountField(), QStringLiteral("veyra-user_01"));
    EXPECT_EQ(view.accountField()->text(), QStringLiteral("veyra-user_01"));
    EXPECT_EQ(model.authenticationErrorMessage(), std::nullopt);
    EXPECT_EQ(view.passwordField()->echoMode(), QLineEdit::Password);
    EXPECT_EQ(view.confirmationField()->echoMode(), QLineEdit::Password);
}

TEST_F(AuthenticationViewTest, SwitchingTheModeChangesTheWholeFormAtOnce)
{
    view.show();
    EXPECT_FALSE(view.confirmationField()->isVisible());
    const QString signIn = view.submitButton()->text();

    clickMode(QStringLiteral("注册"));
    EXPECT_TRUE(showsText(&view, QStringLiteral("注册维拉账号")));
    EXPECT_FALSE(showsText(&view, QStringLiteral("登录维拉账号")));
    EXPECT_EQ(view.accountField()->placeholderText(), QStringLiteral("11位手机号"));
    EXPECT_TRUE(view.confirmationField()->isVisible());
    EXPECT_EQ(view.submitButton()->text(), QStringLiteral("注册并登录"));

    clickMode(QStringLiteral("登录"));
    EXPECT_TRUE(showsText(&view, QStringLiteral("登录维拉账号")));
    EXPECT_EQ(view.submitButton()->text(), signIn);
    EXPECT_FALSE(view.confirmationField()->isVisible());
}

TEST_F(AuthenticationViewTest, OpensInTheModeItIsAskedForAndClosesEveryWay)
{
    // The user chose registration last time; the sheet is now opened for signing in.
    clickMode(QStringLiteral("注册"));
    model.setShowAuthentication(true);
    view.show();
    EXPECT_FALSE(view.isRegistering());

    // The close button, Esc and the window's close each end the sheet in the model.
    QPushButton *close = nullptr;
    for (QPushButton *button : view.findChildren<QPushButton *>())
        if (button->accessibleName() == QStringLiteral("关闭"))
            close = button;
    ASSERT_TRUE(close);
    view.passwordField()->setText(QStringLiteral("password123"));
    QTest::mouseClick(close, Qt::LeftButton);
    EXPECT_FALSE(model.showAuthentication());
    EXPECT_FALSE(view.isVisible());
    EXPECT_TRUE(view.passwordField()->text().isEmpty()) << "no password stays in a closed sheet";

    model.setAuthenticationMode(AuthenticationMode::registration);
    model.setShowAuthentication(true);
    EXPECT_TRUE(view.isRegistering());
    view.show();
    QTest::keyClick(view.accountField(), Qt::Key_Escape);
    EXPECT_FALSE(model.showAuthentication());

    model.setShowAuthentication(true);
    view.show();
    view.close();
    EXPECT_FALSE(model.showAuthentication());

    // Closed by the model (a sign-in succeeded): the sheet goes away by itself.
    model.setShowAuthentication(true);
    view.show();
    model.setShowAuthentication(false);
    EXPECT_FALSE(view.isVisible());
}

class AuthenticationViewIntegration : public ServiceWorld {
protected:
    void fill(AuthenticationView &view, const QString &account, const QString &password, const QString &again = {})
    {
        view.accountField()->setText(account);
        view.passwordField()->setText(password);
        view.confirmationField()->setText(again);
    }
};

TEST_F(AuthenticationViewIntegration, DifferentPasswordsAreCaughtBeforeAnyRequest)
{
    model->setAuthenticationMode(AuthenticationMode::registration);
    model->setShowAuthentication(true);
    AuthenticationView view(*model);
    view.show();
    fill(view, QString::fromLatin1(member), QStringLiteral("password123"), QStringLiteral("password124"));
    QTest::mouseClick(view.submitButton(), Qt::LeftButton);
    EXPECT_EQ(model->authenticationErrorMessage(), QStringLiteral("两次输入的密码不一致"));
    EXPECT_TRUE(showsText(&view, QStringLiteral("两次输入的密码不一致")));
    EXPECT_FALSE(model->isBusy()) << "a sign-in was started";

    // Put right, Enter in the last field registers, and the sheet closes on success.
    view.confirmationField()->setText(QStringLiteral("password123"));
    view.confirmationField()->setFocus();
    QTest::keyClick(view.confirmationField(), Qt::Key_Return);
    // The whole sign-in ends, not just its first published step.
    ASSERT_TRUE(waitUntil([&] { return model->user().has_value() && !model->isBusy(); }))
        << model->authenticationErrorMessage().value_or(QString()).toStdString();
    EXPECT_EQ(requestsTo("/api/v1/auth/register").size(), 1);
    EXPECT_FALSE(model->showAuthentication());
    EXPECT_FALSE(view.isVisible());
}

TEST_F(AuthenticationViewIntegration, ARunningSignInCannotBeSentAgain)
{
    simulator.admin(QStringLiteral("accounts"), { { "account", member }, { "password", "password123" } });
    simulator.fault(QStringLiteral("/api/v1/auth/login"), { { "delayMs", 1500 }, { "times", 1 } });
    model->setShowAuthentication(true);
    AuthenticationView view(*model);
    view.show();
    fill(view, QString::fromLatin1(member), QStringLiteral("password123"));
    QTest::mouseClick(view.submitButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return model->isBusy(); }));
    EXPECT_EQ(view.submitButton()->text(), QStringLiteral("正在登录…"));
    EXPECT_FALSE(view.submitButton()->isEnabled());
    QTest::mouseClick(view.submitButton(), Qt::LeftButton);
    QTest::keyClick(view.passwordField(), Qt::Key_Return);

    ASSERT_TRUE(waitUntil([&] { return model->user().has_value() && !model->isBusy(); }, 10000));
    EXPECT_EQ(requestsTo("/api/v1/auth/login").size(), 1);
    EXPECT_EQ(view.submitButton()->text(), QStringLiteral("登录"));
    EXPECT_TRUE(view.submitButton()->isEnabled());
}

TEST_F(AuthenticationViewIntegration, TheServiceRefusalIsShownInTheSheet)
{
    simulator.admin(QStringLiteral("accounts"), { { "account", member }, { "password", memberPassword } });
    AuthenticationView view(*model);
    view.show();
    fill(view, QString::fromLatin1(member), QStringLiteral("wrong-pass"));
    QTest::mouseClick(view.submitButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return showsText(&view, QStringLiteral("账号或密码错误")); }));
    EXPECT_FALSE(model->user());
    // Editing the account clears it.
    QTest::keyClicks(view.accountField(), QStringLiteral("1"));
    EXPECT_FALSE(showsText(&view, QStringLiteral("账号或密码错误")));
}

} // namespace
