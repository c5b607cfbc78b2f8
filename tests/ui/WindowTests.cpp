// The whole window with the menu-bar menu: its content, commands, sheets and alert follow one
// account, every control a person can use on every page and sheet is named for assistive
// technology and reachable with Tab, one connection is walked through the pages, the command and
// the menu; and the window's keyboard (the pages by number, the node search).
#include "ModelWorld.h"
#include "ServiceWorld.h"
#include "UiTestSupport.h"

#include "AuthenticationView.h"
#include "CheckoutView.h"
#include "ConnectionModeCard.h"
#include "DashboardView.h"
#include "LoggedOutLandingView.h"
#include "MainWindow.h"
#include "MembershipView.h"
#include "NodesView.h"
#include "RootView.h"
#include "SegmentedControl.h"
#include "StatusMenuView.h"
#include "ToggleSwitch.h"

#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

using namespace veyra;
using namespace veyra::test;
using namespace veyra::ui;

namespace {

bool isControl(const QWidget *widget)
{
    return qobject_cast<const QAbstractButton *>(widget) || qobject_cast<const QLineEdit *>(widget)
        || qobject_cast<const QComboBox *>(widget) || qobject_cast<const QAbstractSlider *>(widget)
        || qobject_cast<const QAbstractSpinBox *>(widget) || qobject_cast<const QListWidget *>(widget)
        || qobject_cast<const QTableWidget *>(widget);
}

// Parts of another control are used and announced through it: a scroll area's bars (Tab to what
// is inside scrolls it), the symbol and clear buttons inside a text field, a spin box's or a
// combo box's own pieces.
bool isPartOfAnotherControl(const QWidget *widget, const QWidget *root)
{
    if (qobject_cast<const QScrollBar *>(widget))
        return true;
    for (const QWidget *up = widget->parentWidget(); up && up != root; up = up->parentWidget())
        if (qobject_cast<const QLineEdit *>(up) || qobject_cast<const QAbstractSpinBox *>(up)
            || qobject_cast<const QComboBox *>(up))
            return true;
    return false;
}

// What the control is announced as: the accessible name set on it, else the text a person sees
// in it (a button's text, an empty field's placeholder), else the label that names it (a label
// whose buddy it is). A value (a combo box's choice, a slider's position) names nothing.
QString spokenName(QWidget *widget)
{
    QString name = widget->accessibleName();
    if (name.trimmed().isEmpty()) {
        if (auto *button = qobject_cast<QAbstractButton *>(widget))
            name = button->text();
        else if (auto *field = qobject_cast<QLineEdit *>(widget))
            name = field->placeholderText();
    }
    if (name.trimmed().isEmpty())
        for (QLabel *label : widget->window()->findChildren<QLabel *>())
            if (label->buddy() == widget)
                name = label->text();
    return name.remove(QLatin1Char('&')).trimmed();
}

// The faults of the shown controls of a window, each reported once.
// Disabled controls too: they are announced (dimmed) and become reachable when enabled.
struct Audit {
    void check(QWidget *window, const QString &where)
    {
        QCoreApplication::processEvents();
        for (QWidget *widget : window->findChildren<QWidget *>()) {
            if (widget->window() != window || !widget->isVisibleTo(window) || !isControl(widget)
                || isPartOfAnotherControl(widget, window))
                continue;
            checked.insert(widget);
            const QString what
                = QStringLiteral("%1 \"%2\" in %3 (tool tip \"%4\") on %5: ")
                      .arg(QLatin1String(widget->metaObject()->className()), spokenName(widget),
                          QLatin1String(widget->parentWidget()->metaObject()->className()), widget->toolTip(), where);
            if (spokenName(widget).isEmpty())
                faults.insert({ widget, 0 }, what + "no accessible name or text");
            if ((widget->focusPolicy() & Qt::TabFocus) != Qt::TabFocus)
                faults.insert({ widget, 1 }, what + "not reachable with Tab");
        }
    }
    std::string report() const { return QStringList(faults.values()).join(u'\n').toStdString(); }

    QSet<QWidget *> checked;
    QMap<std::pair<QWidget *, int>, QString> faults;
};

// One account through the whole window and the menu-bar menu, against the service simulator:
// registered through the sheet, then a member, an order paid, the membership ended, signed out.
// On the way every control of every page and sheet is audited.
class WindowIntegration : public ServiceWorld { };

TEST_F(WindowIntegration, OneAccountFromRegistrationToSignOut)
{
    Audit audit;
    MainWindow window(*model);
    RootView *root = window.rootView();
    StatusMenuView tray(*model);
    QMenu *menu = tray.menu();
    QSignalSpy showWindow(&tray, &StatusMenuView::showMainWindowRequested);
    window.show();
    audit.check(&window, "signed out");
    EXPECT_TRUE(qobject_cast<LoggedOutLandingView *>(root->currentContent()));
    // Signed out there is nothing to connect; a repair is always offered.
    EXPECT_FALSE(window.connectionAction()->isEnabled());
    EXPECT_TRUE(window.repairAction()->isEnabled());
    // The account bar's "登录" and "注册" open the sheet in their modes; the model closes it.
    for (const auto &[button, mode] :
        { std::pair { "登录", AuthenticationMode::login }, std::pair { "注册", AuthenticationMode::registration } }) {
        model->setShowAuthentication(false);
        EXPECT_FALSE(root->authenticationSheet() && root->authenticationSheet()->isVisible()) << button;
        ASSERT_TRUE(press(root, button));
        EXPECT_EQ(model->authenticationMode(), mode) << button;
        ASSERT_TRUE(root->authenticationSheet() && root->authenticationSheet()->isVisible()) << button;
        audit.check(root->authenticationSheet(), QStringLiteral("sheet ") + button);
    }

    // Different passwords are caught before any request; put right, Enter in the last field
    // registers and the sheet closes on success.
    auto *sheet = static_cast<AuthenticationView *>(root->authenticationSheet());
    sheet->accountField()->setText(QString::fromLatin1(member));
    sheet->passwordField()->setText(QString::fromLatin1(memberPassword));
    sheet->confirmationField()->setText(QStringLiteral("password124"));
    QTest::mouseClick(sheet->submitButton(), Qt::LeftButton);
    EXPECT_TRUE(showsText(sheet, "两次输入的密码不一致"));
    EXPECT_FALSE(model->isBusy()) << "a sign-in was started";
    sheet->confirmationField()->setText(QString::fromLatin1(memberPassword));
    QTest::keyClick(sheet->confirmationField(), Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return model->user().has_value() && !model->isBusy(); }));
    EXPECT_EQ(requestsTo("/api/v1/auth/register").size(), 1);
    EXPECT_FALSE(sheet->isVisible());

    // Without a membership: the membership page, and a menu entry that leads there.
    EXPECT_TRUE(qobject_cast<MembershipView *>(root->currentContent()));
    EXPECT_FALSE(window.refreshNodesAction()->isEnabled());
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
    EXPECT_TRUE(root->page(AppPage::settings)->isVisibleTo(root));
    EXPECT_TRUE(window.connectionAction()->isEnabled());
    EXPECT_TRUE(window.refreshNodesAction()->isEnabled());
    EXPECT_FALSE(window.testAllAction()->isEnabled()) << "testing every node needs the running kernel";
    EXPECT_EQ(menuTexts(menu),
        (QStringList { model->statusMessage(), "—", "显示主窗口", "—", "未连接 · 点击连接", "出站模式", "—", "节点选择",
            "按地区选择", "—", "智能优选", "未连接", "重新测速", "—", "退出登录", "—", "退出维拉网络助手" }));
    EXPECT_FALSE(menuAction(menu, "重新测速")->isEnabled());
    EXPECT_FALSE(menuAction(submenu(menu, "节点选择"), "连接后加载节点")->isEnabled());
    menuAction(menu, "未连接")->trigger();
    EXPECT_EQ(model->selectedPage(), AppPage::nodes);

    const auto everyPage = [&](const QString &when) {
        for (AppPage page :
            { AppPage::dashboard, AppPage::nodes, AppPage::membership, AppPage::account, AppPage::settings }) {
            model->setSelectedPage(page);
            audit.check(&window, QStringLiteral("page %1%2").arg(int(page)).arg(when));
        }
    };
    everyPage({});
    // An order waiting for its payment: the checkout sheet, then the pages that offer it again;
    // paid while the sheet is open again, its last state.
    await(model->refreshPlans(false));
    await(model->createOrder(plan("monthly"), "wechat"));
    ASSERT_TRUE(root->checkoutSheet() && root->checkoutSheet()->isVisible());
    audit.check(root->checkoutSheet(), "checkout");
    model->setShowCheckout(false);
    everyPage(" with an open order");
    model->setShowCheckout(true);
    simulator.admin(
        "order-status", { { "orderNo", model->currentOrder()->orderNo.toStdString() }, { "status", "paid" } });
    // Only once the account is read again after the payment (a model destroyed in the middle of
    // that would be resumed by the next test's event loop).
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage() == "开通成功"; }, 10000));
    audit.check(root->checkoutSheet(), "checkout paid");
    model->setShowCheckout(false);

    // The alert is dismissed once, in the model too.
    model->present(QStringLiteral("无法连接服务器"));
    QMessageBox *alert = root->alert();
    ASSERT_TRUE(alert && alert->isVisible());
    audit.check(alert, "alert");
    ASSERT_EQ(alert->buttons().size(), 1);
    alert->buttons().first()->click();
    EXPECT_FALSE(model->alertMessage());
    EXPECT_FALSE(alert->isVisible());
    // Choosing a page in the sidebar selects it in the model.
    auto *sidebar = root->findChild<QListWidget *>(QStringLiteral("Sidebar"));
    sidebar->setCurrentRow(0);
    EXPECT_EQ(model->selectedPage(), AppPage::dashboard);
    EXPECT_TRUE(root->page(AppPage::dashboard)->isVisibleTo(root));
    // The membership ends while the dashboard is shown: back to the membership page.
    simulator.admin("membership", { { "account", member }, { "active", false } });
    await(model->refreshAccount(false));
    EXPECT_TRUE(qobject_cast<MembershipView *>(root->currentContent()));
    // Signing out from the account bar shows the landing page; the sidebar is out of reach.
    ASSERT_TRUE(press(root, "退出登录"));
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage() == "已退出账号"; }));
    EXPECT_TRUE(qobject_cast<LoggedOutLandingView *>(root->currentContent()));
    EXPECT_FALSE(sidebar->isVisibleTo(root));
    EXPECT_GT(audit.checked.size(), 40);
    EXPECT_EQ(audit.report(), "");
}

class ConnectedWindowIntegration : public ModelWorld { };

TEST_F(ConnectedWindowIntegration, ConnectTestChooseNodesAndModesThenDisconnect)
{
    AppModel &m = makeModel();
    MainWindow window(m);
    StatusMenuView tray(m);
    QMenu *menu = tray.menu();
    window.show();
    RootView *root = window.rootView();
    auto *dashboard = static_cast<DashboardView *>(root->page(AppPage::dashboard));
    auto *nodes = static_cast<NodesView *>(root->page(AppPage::nodes));
    QWidget *settings = root->page(AppPage::settings);
    QAction *command = window.connectionAction();
    SegmentedControl *picker = dashboard->modeCard()->picker();
    QWidget *protection = dashboard->connectButton()->parentWidget();
    const auto portsEnabled = [&](bool enabled) {
        for (QSpinBox *port : settings->findChildren<QSpinBox *>())
            if (port->isEnabled() != enabled)
                return false;
        return true;
    };
    const auto mode = [&] { return static_cast<ConnectionMode>(picker->currentValue().toInt()); };
    const auto pick
        = [&](ConnectionMode chosen) { QTest::mouseClick(picker->segment(static_cast<int>(chosen)), Qt::LeftButton); };

    // A mode chosen while disconnected is kept for the next connect.
    pick(ConnectionMode::global);
    ASSERT_TRUE(waitUntil([&] { return m.settings().proxyMode == ConnectionMode::global; }));
    EXPECT_TRUE(showsText(dashboard->modeCard(), "将在下次连接时生效"));

    // Connected from the menu. While the connect runs: the page's button and picker and the
    // menu's entries refuse, the progress shows, and the card keeps its height.
    m.setSelectedPage(AppPage::dashboard);
    const int idleHeight = protection->sizeHint().height();
    menuAction(menu, "未连接 · 点击连接")->trigger();
    ASSERT_TRUE(m.isBusy());
    EXPECT_FALSE(dashboard->connectButton()->isEnabled());
    EXPECT_FALSE(picker->isEnabled());
    EXPECT_TRUE(dashboard->busyIndicator()->isVisibleTo(dashboard));
    EXPECT_EQ(protection->sizeHint().height(), idleHeight);
    EXPECT_FALSE(menuAction(menu, "出站模式")->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return m.isConnected() && !m.isBusy(); }, 30000)) << m.statusMessage().toStdString();
    EXPECT_EQ(pillText(protection), "已连接");
    EXPECT_FALSE(dashboard->busyIndicator()->isVisibleTo(dashboard));
    EXPECT_EQ(dashboard->connectButton()->text(), "断开");
    EXPECT_TRUE(showsText(dashboard->modeCard(), "已立即生效"));
    EXPECT_EQ(command->text(), "断开连接");
    EXPECT_TRUE(portsEnabled(false)) << "a port can be edited while the kernel runs";
    EXPECT_EQ(marked(submenu(menu, "出站模式")), QStringList { "全局代理" });

    // A latency test, from the menu and from the page, refuses a second start until it is done.
    QAbstractButton *retest = findButton(dashboard, "重新测速");
    menuAction(menu, "重新测速")->trigger();
    ASSERT_TRUE(m.isTesting());
    EXPECT_FALSE(retest->isEnabled());
    EXPECT_TRUE(menuAction(menu, "正在测速…"));
    ASSERT_TRUE(waitUntil([&] { return !m.isTesting(); }, 20000));
    QTest::mouseClick(retest, Qt::LeftButton);
    ASSERT_TRUE(m.isTesting());
    ASSERT_TRUE(waitUntil([&] { return !m.isTesting(); }, 20000));

    // Only a running connection fills the node table with its rows' buttons: named, and reached
    // by Tab from the search field after the table itself.
    ASSERT_TRUE(waitUntil([&] { return !m.nodes().isEmpty(); }));
    ASSERT_TRUE(nodes->showsTable());
    EXPECT_EQ(nodes->table()->rowCount(), m.nodes().size());
    Audit audit;
    m.setSelectedPage(AppPage::nodes);
    audit.check(&window, QStringLiteral("connected nodes"));
    EXPECT_EQ(audit.report(), "");
    nodes->searchField()->setFocus(Qt::TabFocusReason);
    QStringList reached;
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        reached << QApplication::focusWidget()->accessibleName();
    }
    const qsizetype table = reached.indexOf("官方节点");
    ASSERT_TRUE(table >= 0 && table < 3) << reached.join(" → ").toStdString();
    EXPECT_TRUE(reached.at(table + 2).startsWith("选择并同步 ")) << reached.join(" → ").toStdString();

    // Pressing "选择" on a row: that row syncs and every other row waits; then the kernel and the
    // settings name the node, its row reads "已选择", and the menu marks it.
    QPushButton *choose = nodes->selectionButton("Hong Kong 02");
    EXPECT_EQ(choose->text(), "选择");
    QTest::mouseClick(choose, Qt::LeftButton);
    ASSERT_EQ(m.selectingNodeName(), std::optional<QString>("Hong Kong 02"));
    EXPECT_EQ(choose->text(), "同步中");
    EXPECT_TRUE(choose->parentWidget()->findChild<QProgressBar *>()->isVisibleTo(nodes));
    EXPECT_FALSE(nodes->selectionButton("东京 01")->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return !m.selectingNodeName() && m.settings().selectedNode == "Hong Kong 02"; }));
    EXPECT_EQ(selectedInKernel(), "Hong Kong 02");
    choose = nodes->selectionButton("Hong Kong 02");
    EXPECT_EQ(choose->text(), "已选择");
    EXPECT_FALSE(choose->isEnabled());
    EXPECT_EQ(choose->accessibleName(), "Hong Kong 02 已选择");
    EXPECT_TRUE(nodes->selectionButton("东京 01")->isEnabled());
    EXPECT_FALSE(nodes->smartSelectionSwitch()->isChecked());
    QMenu *hongKong = submenu(submenu(menu, "按地区选择"), "香港");
    ASSERT_TRUE(hongKong);
    const QStringList entries = menuTexts(hongKong);
    EXPECT_EQ(marked(submenu(menu, "节点选择")), entries);
    EXPECT_EQ(marked(hongKong), entries);

    // The switch turns smart selection back on; the region menu chooses the node again.
    QTest::mouseClick(nodes->smartSelectionSwitch(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return m.settings().smartSelection; }));
    EXPECT_EQ(nodes->selectionButton("Hong Kong 02")->text(), "选择");
    menuAction(hongKong, entries.first())->trigger();
    ASSERT_TRUE(waitUntil([&] { return !m.selectingNodeName() && m.settings().selectedNode == "Hong Kong 02"; }));

    // The menu changes the mode; the page's picker follows. The kernel's controller is then asked
    // on a port where nothing answers: every change is refused before the settings move, and the
    // picker shows the kept mode.
    menuAction(submenu(menu, "出站模式"), "直连")->trigger();
    ASSERT_TRUE(waitUntil([&] { return m.settings().proxyMode == ConnectionMode::direct; }));
    EXPECT_EQ(mode(), ConnectionMode::direct);
    const AppSettings kept = m.settings();
    m.editPorts(kept.mixedPort, kept.socksPort, 1);
    for (const ConnectionMode chosen : { ConnectionMode::global, ConnectionMode::rule }) {
        pick(chosen);
        EXPECT_TRUE(waitUntil([&] { return m.alertMessage() && mode() == ConnectionMode::direct; }))
            << "the picker still shows the refused mode " << static_cast<int>(chosen);
    }
    m.editPorts(kept.mixedPort, kept.socksPort, kept.controllerPort);
    m.setAlertMessage(std::nullopt);

    command->trigger();
    ASSERT_TRUE(waitUntil([&] { return !m.isConnected() && !m.isBusy(); }, 20000));
    EXPECT_EQ(command->text(), "连接网络");
    EXPECT_EQ(pillText(protection), "已断开");
    EXPECT_FALSE(retest->isEnabled());
    EXPECT_TRUE(portsEnabled(true));
    EXPECT_TRUE(menuAction(menu, "未连接 · 点击连接"));
}

// Ctrl and a number open the pages in sidebar order; Ctrl+F searches the nodes only on their
// page. Both are listed with their keys where the window lists its other shortcuts.
TEST(MainWindowShortcuts, NumbersOpenThePagesInSidebarOrderAndCtrlFSearchesTheNodes)
{
    StagedModel model;
    model.becomeMember();
    MainWindow window(model);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    for (const auto &[key, page] : { std::pair { Qt::Key_5, AppPage::settings }, { Qt::Key_2, AppPage::nodes },
             { Qt::Key_4, AppPage::account }, { Qt::Key_3, AppPage::membership }, { Qt::Key_1, AppPage::dashboard } }) {
        QTest::keyClick(&window, key, Qt::ControlModifier);
        EXPECT_EQ(model.selectedPage(), page) << "Ctrl+" << QKeySequence(key).toString().toStdString();
    }
    QLineEdit *search = static_cast<NodesView *>(window.rootView()->page(AppPage::nodes))->searchField();
    QTest::keyClick(&window, Qt::Key_F, Qt::ControlModifier);
    EXPECT_FALSE(search->hasFocus());
    QTest::keyClick(&window, Qt::Key_2, Qt::ControlModifier);
    QTest::keyClick(&window, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(search->hasFocus());
    QStringList listed;
    for (QAction *menu : window.menuBar()->actions())
        for (QAction *action : menu->menu()->actions())
            listed << action->shortcut().toString();
    for (const char *shortcut : { "Ctrl+1", "Ctrl+5", "Ctrl+F", "Ctrl+Shift+C", "Ctrl+Q" })
        EXPECT_TRUE(listed.contains(QLatin1String(shortcut))) << shortcut;
}

} // namespace
