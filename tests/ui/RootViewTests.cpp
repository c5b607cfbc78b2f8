// The window's content, its commands and the menu-bar menu follow what the account may use, and
// the alert and sheets follow the model's flags; driven against the service simulator.
#include "ServiceWorld.h"
#include "UiTestSupport.h"

#include "AuthenticationView.h"
#include "LoggedOutLandingView.h"
#include "MainWindow.h"
#include "MembershipView.h"
#include "RootView.h"
#include "SettingsView.h"
#include "StatusMenuView.h"

#include <QAction>
#include <QListWidget>
#include <QMessageBox>
#include <QSignalSpy>

using namespace veyra;
using namespace veyra::test;
using namespace veyra::ui;

namespace {

const QString separator = QStringLiteral("—");

TEST(RootView, TheAlertIsDismissedOnce)
{
    AppModel model;
    MainWindow window(model);
    window.show();
    model.present(QStringLiteral("无法连接服务器"));
    QMessageBox *alert = window.rootView()->alert();
    ASSERT_TRUE(alert && alert->isVisible());
    EXPECT_EQ(alert->text(), "无法连接服务器");
    ASSERT_EQ(alert->buttons().size(), 1);
    alert->buttons().first()->click();
    EXPECT_FALSE(model.alertMessage());
    EXPECT_FALSE(alert->isVisible());
}

class RootViewIntegration : public ServiceWorld {
protected:
    void setMembership(bool active)
    {
        simulator.admin("membership", { { "account", member }, { "active", active } });
        await(model->refreshAccount(false));
    }
};

TEST_F(RootViewIntegration, TheWindowAndTheMenuFollowTheAccountAndKeepTheChosenPage)
{
    MainWindow window(*model);
    RootView *root = window.rootView();
    StatusMenuView tray(*model);
    QMenu *menu = tray.menu();
    QSignalSpy showWindow(&tray, &StatusMenuView::showMainWindowRequested);
    window.show();
    EXPECT_TRUE(qobject_cast<LoggedOutLandingView *>(root->currentContent()));
    EXPECT_TRUE(findButton(root, "登录"));
    // Signed out there is nothing to connect and no nodes to refresh; a repair is always offered.
    EXPECT_EQ(window.connectionAction()->text(), "连接网络");
    EXPECT_FALSE(window.connectionAction()->isEnabled());
    EXPECT_TRUE(window.repairAction()->isEnabled());

    // The account bar's "注册" opens the sheet in registration mode.
    ASSERT_TRUE(press(root, "注册"));
    EXPECT_EQ(model->authenticationMode(), AuthenticationMode::registration);
    ASSERT_TRUE(root->authenticationSheet() && root->authenticationSheet()->isVisible());
    model->setShowAuthentication(false);
    EXPECT_FALSE(root->authenticationSheet()->isVisible());

    // Signed in without a membership: the membership page, and a menu that leads there.
    signIn();
    EXPECT_TRUE(qobject_cast<MembershipView *>(root->currentContent()));
    EXPECT_FALSE(findButton(root, "登录"));
    EXPECT_FALSE(window.connectionAction()->isEnabled());
    EXPECT_FALSE(window.refreshNodesAction()->isEnabled());
    EXPECT_EQ(menuTexts(menu), (QStringList { model->statusMessage(), separator, "显示主窗口", separator,
                                   "会员未生效 · 查看套餐", "刷新会员状态", "退出登录", separator, "退出维拉网络助手" }));
    model->setSelectedPage(AppPage::account);
    menuAction(menu, "会员未生效 · 查看套餐")->trigger();
    EXPECT_EQ(model->selectedPage(), AppPage::membership);
    EXPECT_EQ(showWindow.count(), 1);

    // The membership starts on the service; the menu's refresh brings it in. The chosen page
    // survives the switch to the member application, and the menu turns into the member's, with
    // nothing to choose before a connect.
    model->setSelectedPage(AppPage::settings);
    simulator.admin("membership", { { "account", member }, { "active", true } });
    menuAction(menu, "刷新会员状态")->trigger();
    ASSERT_TRUE(waitUntil([&] { return model->membershipActive() && model->officialLineReady(); }));
    EXPECT_EQ(model->selectedPage(), AppPage::settings);
    EXPECT_TRUE(qobject_cast<SettingsView *>(root->page(AppPage::settings)));
    EXPECT_TRUE(root->page(AppPage::settings)->isVisibleTo(root));
    EXPECT_TRUE(window.connectionAction()->isEnabled());
    EXPECT_TRUE(window.refreshNodesAction()->isEnabled());
    // Testing every node needs the running kernel.
    EXPECT_FALSE(window.testAllAction()->isEnabled());
    EXPECT_EQ(menuTexts(menu),
        (QStringList { model->statusMessage(), separator, "显示主窗口", separator, "未连接 · 点击连接", "出站模式",
            separator, "节点选择", "按地区选择", separator, "智能优选", "未连接", "重新测速", separator, "退出登录",
            separator, "退出维拉网络助手" }));
    EXPECT_TRUE(menuAction(menu, "未连接 · 点击连接")->isEnabled());
    EXPECT_FALSE(menuAction(menu, "重新测速")->isEnabled());
    QMenu *choice = menuAction(menu, "节点选择")->menu();
    EXPECT_EQ(menuTexts(choice), (QStringList { "智能优选", "连接后加载节点" }));
    EXPECT_FALSE(menuAction(choice, "连接后加载节点")->isEnabled());
    EXPECT_EQ(menuTexts(menuAction(menu, "按地区选择")->menu()), QStringList { "连接后加载地区" });
    menuAction(menu, "未连接")->trigger();
    EXPECT_EQ(model->selectedPage(), AppPage::nodes);
    EXPECT_EQ(showWindow.count(), 2);

    // Choosing a page in the sidebar selects it in the model.
    auto *sidebar = root->findChild<QListWidget *>(QStringLiteral("Sidebar"));
    ASSERT_TRUE(sidebar);
    EXPECT_EQ(sidebar->count(), 5);
    sidebar->setCurrentRow(0);
    EXPECT_EQ(model->selectedPage(), AppPage::dashboard);
    EXPECT_TRUE(root->page(AppPage::dashboard)->isVisibleTo(root));

    // The membership ends while the dashboard is shown: back to the membership page.
    setMembership(false);
    EXPECT_TRUE(qobject_cast<MembershipView *>(root->currentContent()));

    // Signing out from the account bar shows the landing page; the sidebar is out of reach.
    ASSERT_TRUE(press(root, "退出登录"));
    // The sign-out runs on by itself; the model must outlive it.
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage() == "已退出账号"; }));
    EXPECT_TRUE(qobject_cast<LoggedOutLandingView *>(root->currentContent()));
    EXPECT_FALSE(sidebar->isVisibleTo(root));
    EXPECT_TRUE(menuAction(menu, "登录账号"));
}

} // namespace
