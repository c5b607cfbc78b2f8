// The window's content follows what the account may use, and the alert and sheets follow the
// model's flags; driven against the service simulator.
#include "ServiceWorld.h"
#include "UiTestSupport.h"

#include "AuthenticationView.h"
#include "DashboardView.h"
#include "LoggedOutLandingView.h"
#include "MainWindow.h"
#include "MembershipView.h"
#include "RootView.h"
#include "SettingsView.h"

#include <QAction>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

using namespace veyra;
using namespace veyra::test;
using namespace veyra::ui;

namespace {

class RootViewIntegration : public ServiceWorld {
protected:
    void setMembership(bool active)
    {
        simulator.admin(QStringLiteral("membership"), { { "account", test::member }, { "active", active } });
        await(model->refreshAccount(false));
    }
};

TEST_F(RootViewIntegration, TheContentFollowsTheAccountAndKeepsTheChosenPage)
{
    RootView root(*model);
    root.resize(900, 600);
    EXPECT_TRUE(qobject_cast<LoggedOutLandingView *>(root.currentContent()));
    EXPECT_TRUE(findButton(&root, QStringLiteral("登录")));
    EXPECT_TRUE(findButton(&root, QStringLiteral("注册")));

    // The account bar's "登录" opens the sheet in sign-in mode; its "注册" in registration mode.
    findButton(&root, QStringLiteral("注册"))->click();
    EXPECT_TRUE(model->showAuthentication());
    EXPECT_EQ(model->authenticationMode(), AuthenticationMode::registration);
    ASSERT_TRUE(root.authenticationSheet());
    EXPECT_TRUE(root.authenticationSheet()->isVisible());
    model->setShowAuthentication(false);
    EXPECT_FALSE(root.authenticationSheet()->isVisible());

    // Signed in without a membership: the membership page, paying with WeChat Pay preselected.
    signIn();
    auto *membershipPage = qobject_cast<MembershipView *>(root.currentContent());
    ASSERT_TRUE(membershipPage);
    EXPECT_FALSE(findButton(&root, QStringLiteral("登录")));
    auto *wechat = findButton(membershipPage, QStringLiteral("微信支付"));
    ASSERT_TRUE(wechat);
    EXPECT_TRUE(wechat->isChecked());

    // The chosen page survives the switch to the member application.
    model->setSelectedPage(AppPage::settings);
    setMembership(true);
    ASSERT_TRUE(model->membershipActive());
    EXPECT_EQ(model->selectedPage(), AppPage::settings);
    EXPECT_TRUE(qobject_cast<SettingsView *>(root.page(AppPage::settings)));
    EXPECT_TRUE(root.page(AppPage::settings)->isVisibleTo(&root));

    // Choosing a page in the sidebar selects it in the model.
    auto *sidebar = root.findChild<QListWidget *>(QStringLiteral("Sidebar"));
    ASSERT_TRUE(sidebar);
    EXPECT_EQ(sidebar->count(), 5);
    sidebar->setCurrentRow(0);
    EXPECT_EQ(model->selectedPage(), AppPage::dashboard);
    EXPECT_TRUE(root.page(AppPage::dashboard)->isVisibleTo(&root));

    // The membership ends while the dashboard is shown: back to the membership page.
    setMembership(false);
    EXPECT_TRUE(qobject_cast<MembershipView *>(root.currentContent()));

    // Signing out from the account bar shows the landing page; the sidebar is out of reach.
    findButton(&root, QStringLiteral("退出登录"))->click();
    // The sign-out runs on by itself; the model must outlive it.
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage() == QStringLiteral("已退出账号"); }));
    EXPECT_TRUE(qobject_cast<LoggedOutLandingView *>(root.currentContent()));
    EXPECT_FALSE(sidebar->isVisibleTo(&root));
}

TEST_F(RootViewIntegration, TheAlertIsDismissedOnceAndTheCommandsFollowTheAccount)
{
    MainWindow window(*model);
    window.show();
    model->present(QStringLiteral("无法连接服务器"));
    QMessageBox *alert = window.rootView()->alert();
    ASSERT_TRUE(alert);
    EXPECT_TRUE(alert->isVisible());
    EXPECT_EQ(alert->text(), QStringLiteral("无法连接服务器"));
    ASSERT_EQ(alert->buttons().size(), 1);
    alert->buttons().first()->click();
    EXPECT_FALSE(model->alertMessage());
    EXPECT_FALSE(alert->isVisible());

    // Signed out or without a membership, there is nothing to connect and no nodes to refresh.
    EXPECT_EQ(window.connectionAction()->text(), QStringLiteral("连接网络"));
    EXPECT_FALSE(window.connectionAction()->isEnabled());
    EXPECT_TRUE(window.repairAction()->isEnabled());
    signIn();
    EXPECT_FALSE(window.connectionAction()->isEnabled());
    EXPECT_FALSE(window.refreshNodesAction()->isEnabled());
    setMembership(true);
    EXPECT_TRUE(window.connectionAction()->isEnabled());
    EXPECT_TRUE(window.refreshNodesAction()->isEnabled());
    // Testing every node needs the running kernel.
    EXPECT_FALSE(window.testAllAction()->isEnabled());
    EXPECT_EQ(window.connectionAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    EXPECT_EQ(window.quitAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
}

} // namespace
