// The whole window with the menu-bar menu: its content, commands, sheets and alert follow one
// account, every control a person can use on every page and sheet is named for assistive
// technology and reachable with Tab, one connection is walked through the pages, the command and
// the menu; and the window's keyboard (the pages by number, the node search).
// The shell around it: one instance per session, the window's life, the process's protection.
// The menu-bar menu on its own (signed out, and its node menus kept in place while the latencies
// change) and the tray icon: legible on any panel in every state, with a tooltip that tells it.
#include "AppPaths.h"
#include "ApplicationMain.h"
#include "AuthenticationView.h"
#include "CheckoutView.h"
#include "ConnectionModeCard.h"
#include "DashboardView.h"
#include "LoggedOutLandingView.h"
#include "MainWindow.h"
#include "MembershipView.h"
#include "ModelWorld.h"
#include "NodesView.h"
#include "RootView.h"
#include "SegmentedControl.h"
#include "ServiceWorld.h"
#include "SingleInstance.h"
#include "StatusMenuView.h"
#include "Theme.h"
#include "ToggleSwitch.h"
#include "TrayGlyph.h"
#include "TrayIcon.h"
#include "UiTestSupport.h"
#include "VeyraNetworkAssistantApp.h"

#include <QAbstractSlider>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>

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
    if (auto *button = qobject_cast<QAbstractButton *>(widget); button && name.trimmed().isEmpty())
        name = button->text();
    if (auto *field = qobject_cast<QLineEdit *>(widget); field && name.trimmed().isEmpty())
        name = field->placeholderText();
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
    QSignalSpy quit(&tray, &StatusMenuView::quitRequested);
    window.show();
    audit.check(&window, "signed out");
    EXPECT_TRUE(qobject_cast<LoggedOutLandingView *>(root->currentContent()));
    EXPECT_FALSE(window.connectionAction()->isEnabled()) << "signed out there is nothing to connect";
    // Signed out, the menu's state line is a line to read. Its account entries and the account
    // bar's buttons open the sheet in their modes (the menu's show the window too); the model
    // closes it.
    EXPECT_EQ(menuTexts(menu),
        (QStringList {
            model->statusMessage(), "—", "显示主窗口", "—", "注册账号", "登录账号", "—", "退出维拉网络助手" }));
    EXPECT_FALSE(menu->actions().first()->isEnabled());
    for (const auto &[entry, mode] :
        { std::pair { "登录账号", AuthenticationMode::login }, { "注册账号", AuthenticationMode::registration },
            { "登录", AuthenticationMode::login }, { "注册", AuthenticationMode::registration } }) {
        model->setShowAuthentication(false);
        if (QAction *action = menuAction(menu, entry))
            action->trigger();
        else
            ASSERT_TRUE(press(root, entry));
        EXPECT_EQ(model->authenticationMode(), mode) << entry;
        ASSERT_TRUE(root->authenticationSheet() && root->authenticationSheet()->isVisible()) << entry;
        audit.check(root->authenticationSheet(), QStringLiteral("sheet ") + entry);
    }
    EXPECT_EQ(showWindow.count(), 2);

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
    EXPECT_FALSE(sheet->isVisible());

    // Without a membership: the membership page, and a menu entry that leads there.
    EXPECT_TRUE(qobject_cast<MembershipView *>(root->currentContent()));
    EXPECT_FALSE(window.refreshNodesAction()->isEnabled());
    model->setSelectedPage(AppPage::account);
    menuAction(menu, "会员未生效 · 查看套餐")->trigger();
    EXPECT_EQ(model->selectedPage(), AppPage::membership);
    EXPECT_EQ(showWindow.count(), 3);

    // The membership starts on the service; the menu's refresh brings it in. The chosen page
    // survives the switch to the member application, and the menu turns into the member's, with
    // nothing to choose before a connect.
    model->setSelectedPage(AppPage::settings);
    simulator.admin("membership", { { "account", member }, { "active", true } });
    menuAction(menu, "刷新会员状态")->trigger();
    ASSERT_TRUE(waitUntil([&] { return model->membershipActive() && model->officialLineReady(); }));
    EXPECT_TRUE(root->page(AppPage::settings)->isVisibleTo(root));
    EXPECT_TRUE(window.refreshNodesAction()->isEnabled());
    EXPECT_FALSE(window.testAllAction()->isEnabled()) << "testing every node needs the running kernel";
    EXPECT_EQ(menuTexts(menu),
        (QStringList { model->statusMessage(), "—", "显示主窗口", "—", "未连接 · 点击连接", "出站模式", "—", "节点选择",
            "按地区选择", "—", "智能优选", "未连接", "重新测速", "—", "退出登录", "—", "退出维拉网络助手" }));
    EXPECT_FALSE(menuAction(menu, "重新测速")->isEnabled());
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
    alert->buttons().first()->click();
    EXPECT_FALSE(model->alertMessage());
    EXPECT_FALSE(alert->isVisible());
    // Choosing a page in the sidebar selects it in the model.
    auto *sidebar = root->findChild<QListWidget *>(QStringLiteral("Sidebar"));
    sidebar->setCurrentRow(0);
    EXPECT_EQ(model->selectedPage(), AppPage::dashboard);
    // The membership ends while the dashboard is shown: back to the membership page.
    simulator.admin("membership", { { "account", member }, { "active", false } });
    await(model->refreshAccount(false));
    EXPECT_TRUE(qobject_cast<MembershipView *>(root->currentContent()));
    // Signing out from the account bar shows the landing page; the sidebar is out of reach.
    ASSERT_TRUE(press(root, "退出登录"));
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage() == "已退出账号"; }));
    EXPECT_TRUE(qobject_cast<LoggedOutLandingView *>(root->currentContent()));
    EXPECT_FALSE(sidebar->isVisibleTo(root));
    menuAction(menu, "退出维拉网络助手")->trigger();
    EXPECT_EQ(quit.count(), 1);
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
    QAction *command = window.connectionAction();
    SegmentedControl *picker = dashboard->modeCard()->picker();
    QWidget *protection = dashboard->connectButton()->parentWidget();
    const auto portsEnabled = [&](bool enabled) {
        return std::ranges::all_of(root->page(AppPage::settings)->findChildren<QSpinBox *>(),
            [&](QSpinBox *port) { return port->isEnabled() == enabled; });
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
    EXPECT_EQ(command->text(), "断开连接");
    EXPECT_TRUE(portsEnabled(false)) << "a port can be edited while the kernel runs";
    EXPECT_EQ(marked(submenu(menu, "出站模式")), QStringList { "全局代理" });

    // Only a running connection fills the node table with its rows' buttons, all named.
    ASSERT_TRUE(waitUntil([&] { return !m.nodes().isEmpty(); }));
    EXPECT_EQ(nodes->table()->rowCount(), m.nodes().size());
    Audit audit;
    m.setSelectedPage(AppPage::nodes);
    audit.check(&window, QStringLiteral("connected nodes"));
    EXPECT_EQ(audit.report(), "");
    // Pressing "选择" on a row: that row syncs and every other row waits; then the kernel and the
    // settings name the node, its row reads "已选择", and the menu marks it.
    QPushButton *choose = nodes->selectionButton("Hong Kong 02");
    QTest::mouseClick(choose, Qt::LeftButton);
    ASSERT_EQ(m.selectingNodeName(), std::optional<QString>("Hong Kong 02"));
    EXPECT_EQ(choose->text(), "同步中");
    EXPECT_TRUE(choose->parentWidget()->findChild<QProgressBar *>()->isVisibleTo(nodes));
    EXPECT_FALSE(nodes->selectionButton("东京 01")->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return !m.selectingNodeName() && m.settings().selectedNode == "Hong Kong 02"; }));
    choose = nodes->selectionButton("Hong Kong 02");
    EXPECT_FALSE(choose->isEnabled());
    EXPECT_EQ(choose->accessibleName(), "Hong Kong 02 已选择");
    EXPECT_TRUE(nodes->selectionButton("东京 01")->isEnabled());
    EXPECT_FALSE(nodes->smartSelectionSwitch()->isChecked());
    QMenu *hongKong = submenu(submenu(menu, "按地区选择"), "香港");
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
    for (const char *shortcut : { "Ctrl+1", "Ctrl+F", "Ctrl+Shift+C" })
        EXPECT_TRUE(listed.contains(QLatin1String(shortcut))) << shortcut;
}

// What a crashed instance left does not stop the next start; a later start then asks the
// running one to show itself and leaves. Only a folder of the user's own that no one else can
// write may hold the socket: another user holding it first would make every start hand over to
// them and leave.
TEST(SingleInstance, TheFirstStartClaimsTheSessionALaterOneHandsOverInAPrivateFolder)
{
    QTemporaryDir runtime, data;
    const QString path = runtime.filePath(QStringLiteral("instance.sock"));
    const int dead = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address { AF_UNIX, {} };
    qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path);
    ASSERT_EQ(::bind(dead, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ::close(dead);
    SingleInstance first(path);
    ASSERT_TRUE(first.claim());
    int activations = 0;
    QObject::connect(&first, &SingleInstance::activationRequested, [&] { ++activations; });
    // The later start blocks on its socket, as a starting process does, so it runs elsewhere.
    std::atomic<int> secondClaimed { -1 };
    std::thread later([&] { secondClaimed = SingleInstance(path).claim() ? 1 : 0; });
    EXPECT_TRUE(waitUntil([&] { return secondClaimed != -1; }, 10000));
    later.join();
    EXPECT_EQ(secondClaimed, 0);
    EXPECT_TRUE(waitUntil([&] { return activations == 1; }));

    AppPaths::setRootOverride(data.path());
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    const auto restore = qScopeGuard([&] {
        qputenv("XDG_RUNTIME_DIR", saved);
        AppPaths::setRootOverride({});
    });
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    for (const auto &[mode, folder] : { std::pair { 0700, runtime.path() }, { 0770, data.path() } }) {
        ASSERT_EQ(::chmod(QFile::encodeName(runtime.path()).constData(), mode_t(mode)), 0);
        EXPECT_TRUE(SingleInstance::defaultPath().startsWith(folder + u'/'))
            << "runtime folder mode " << std::oct << mode;
    }
    ASSERT_EQ(::chmod(QFile::encodeName(data.path()).constData(), 0777), 0);
    EXPECT_EQ(SingleInstance::defaultPath(), QString());
}

// The application itself, started twice by an ordinary user: the first process cannot be read
// or attached to by that user's other programs, runs no page that is not from a file (the root
// helper refuses a peer with executable anonymous memory), and the second one hands over and
// leaves.
TEST(ApplicationProcessIntegration, ItIsNotDumpableAndOnlyOneRunsPerSession)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to start the application as another user";
    QTemporaryDir home;
    ASSERT_EQ(::chown(home.path().toLocal8Bit().constData(), 65534, 65534), 0);
    const auto startAsNobody = [&](QProcess &process) {
        process.setEnvironment({ "HOME=" + home.path(), "XDG_RUNTIME_DIR=" + home.path(), "QT_QPA_PLATFORM=offscreen",
            "PATH=/usr/bin:/bin" });
        process.start("/usr/bin/setpriv", { "--reuid=65534", "--regid=65534", "--clear-groups", VEYRA_APPLICATION });
    };
    QProcess first, second;
    const auto stop = qScopeGuard([&] {
        first.kill();
        first.waitForFinished(5000);
    });
    startAsNobody(first);
    // Checked once the first log line, masked by regular expressions (whose JIT makes such
    // pages), is written.
    const QDir logs(home.filePath(QStringLiteral(".local/share/VeyraNetworkAssistant/Logs")));
    ASSERT_TRUE(waitUntil([&] { return !logs.entryList(QDir::Files).isEmpty(); }, 20000));
    ASSERT_TRUE(
        waitUntil([&] { return QFile::exists(home.filePath(QStringLiteral("veyra-network-assistant.sock"))); }));
    EXPECT_EQ(QFileInfo(QStringLiteral("/proc/%1/environ").arg(first.processId())).ownerId(), 0u);
    for (const QByteArray &line : readBytes(QStringLiteral("/proc/%1/maps").arg(first.processId())).split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        const QByteArray path = fields.value(5);
        EXPECT_TRUE(
            fields.value(1).mid(2, 1) != "x" || path.startsWith('/') || path == "[vdso]" || path == "[vsyscall]")
            << line.toStdString();
    }
    startAsNobody(second);
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);
    first.terminate();
    EXPECT_TRUE(first.waitForFinished(20000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
}

class ShellIntegration : public ServiceWorld { };

// Shown once, the window starts the model; signed out, it ends by offering the sign-in sheet.
// Minimised or hidden, it comes back as the same window; closed, it gives its widgets and fonts
// back and never quits, and a later request builds it again. Qt's own texts are in Chinese.
TEST_F(ShellIntegration, TheWindowStartsUpTheModelAndComesBackWhenAskedFor)
{
    int left = 0;
    VeyraNetworkAssistantApp app(collaboratorsFor(seams()), [&] { ++left; });
    app.start();
    QPointer<MainWindow> window = app.mainWindow();
    ASSERT_TRUE(window && window->isVisible());
    ASSERT_TRUE(waitUntil([&] { return !app.model().isBusy() && app.model().showAuthentication(); }, 20000));
    EXPECT_EQ(app.model().authenticationMode(), AuthenticationMode::registration);
    window->showMinimized();
    app.showMainWindow();
    EXPECT_FALSE(window->isMinimized());
    window->hide();
    app.showMainWindow();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(app.mainWindow(), window);
    ASSERT_FALSE(app.trayIcon());
    // Every close gives the fonts back, not only the first.
    for (int round = 1; round <= 2; ++round) {
        window->grab();
        window->close();
        EXPECT_TRUE(waitUntil([&] { return window.isNull(); }));
        EXPECT_TRUE(waitUntil([] { return !readBytes(QStringLiteral("/proc/self/smaps")).contains("/fonts/"); }))
            << "a font stays mapped after close " << round;
        app.showMainWindow();
        window = app.mainWindow();
        ASSERT_TRUE(window && window->isVisible());
    }
    EXPECT_EQ(left, 0) << "closing the window quit the application";

    ASSERT_TRUE(installPlatformTranslations());
    EXPECT_EQ(QCoreApplication::translate("QAbstractSocket", "Connection refused"), QStringLiteral("连接被拒绝"));
}

// A latency test reorders two nodes and finds a third: the entries that stay are the same ones,
// in the new order, and the open submenu stays open; a node gone is all that is removed.
TEST(StatusMenuView, NewLatenciesUpdateTheOpenNodeMenuInPlace)
{
    StagedModel model;
    model.becomeMember();
    model.setNodes({ node("东京 01", "日本", 120, "🇯🇵"), node("香港 01", "香港", 200, "🇭🇰") });
    model.setIsConnected(true);
    StatusMenuView view(model);
    QMenu *choice = submenu(view.menu(), "节点选择");
    QMenu *regions = submenu(view.menu(), "按地区选择");
    QMenu *japan = submenu(regions, "日本");
    choice->popup(QPoint(0, 0));
    ASSERT_TRUE(waitUntil([&] { return choice->isVisible(); }));
    QAction *hongKong = menuAction(choice, "🇭🇰 香港 01 · 200 ms");
    ASSERT_TRUE(hongKong) << menuTexts(choice).join(u'|').toStdString();
    model.setNodes(
        { node("东京 01", "日本", 400, "🇯🇵"), node("香港 01", "香港", 90, "🇭🇰"), node("首尔 01", "韩国", -1, "🇰🇷") });
    EXPECT_EQ(submenu(view.menu(), "节点选择"), choice);
    EXPECT_TRUE(choice->isVisible());
    EXPECT_EQ(menuTexts(choice),
        (QStringList { "智能优选", "🇭🇰 香港 01 · 90 ms", "🇯🇵 东京 01 · 400 ms", "🇰🇷 首尔 01 · 未测速" }));
    EXPECT_EQ(menuAction(choice, "🇭🇰 香港 01 · 90 ms"), hongKong);
    EXPECT_EQ(submenu(regions, "日本"), japan);
    EXPECT_EQ(menuTexts(regions), (QStringList { "日本", "韩国", "香港" }));
    model.setNodes({ node("香港 01", "香港", 90, "🇭🇰") });
    EXPECT_EQ(menuTexts(choice), (QStringList { "智能优选", "🇭🇰 香港 01 · 90 ms" }));
    EXPECT_EQ(menuAction(choice, "🇭🇰 香港 01 · 90 ms"), hongKong);
    EXPECT_EQ(menuTexts(regions), QStringList { "香港" });
    choice->hide();
}

// Every state's icon stands out from a light and a dark panel at every size, and no two states
// look alike; the tooltip names the product, the state, the node with its latency and the speeds.
TEST(TrayIcon, EveryStateReadsOnAnyPanelAndTheTooltipTellsTheState)
{
    StagedModel model;
    model.setStatusMessage(QStringLiteral("已断开"));
    EXPECT_EQ(TrayIcon::toolTip(model), "维拉网络助手\n已断开");
    model.becomeMember();
    QList<TrayLook> every { trayLook(model) };
    model.setNodes({ node("东京 01", "日本", 120, "🇯🇵") });
    model.setIsConnected(true);
    every << trayLook(model);
    model.recordSpeed({ 0, 0 });
    const QStringList lines = TrayIcon::toolTip(model).split(u'\n');
    ASSERT_EQ(lines.size(), 4) << lines.join(u'|').toStdString();
    EXPECT_EQ(lines[2], "智能优选 · 120 ms");
    EXPECT_TRUE(lines[3].startsWith("↑ ") && lines[3].contains(" ↓ ")) << lines[3].toStdString();
    model.setConnectionFailed(true);
    every << trayLook(model) << TrayLook { "connecting", theme::accent(), "arrow.triangle.2.circlepath" };
    QSet<QRgb> fills;
    for (const TrayLook &look : every) {
        fills.insert(look.fill.rgb());
        for (const QColor panel : { QColor(0xf2, 0xf2, 0xf2), QColor(0x1e, 0x1e, 0x1e) })
            for (int size : { 16, 32 }) {
                QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
                image.fill(panel);
                QPainter painter(&image);
                trayGlyph(look).paint(&painter, image.rect());
                painter.end();
                int distinct = 0;
                for (int y = 0; y < size; ++y)
                    for (int x = 0; x < size; ++x)
                        distinct += std::abs(qGray(image.pixel(x, y)) - qGray(panel.rgb())) > 64;
                EXPECT_GT(distinct, size * size * 35 / 100)
                    << look.state.toStdString() << " on " << qPrintable(panel.name()) << " at " << size << " px";
            }
    }
    EXPECT_EQ(fills.size(), 4) << "two states look alike";
}

} // namespace
