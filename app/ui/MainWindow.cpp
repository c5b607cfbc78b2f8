#include "MainWindow.h"

#include "AppModel.h"
#include "Navigation.h"
#include "RootView.h"
#include "Theme.h"

#include <QAction>
#include <QEvent>
#include <QMenuBar>
#include <QScreen>
#include <QTimer>

#include <algorithm>

namespace veyra::ui {

QString MainWindow::title() { return QStringLiteral("维拉网络助手"); }

MainWindow::MainWindow(AppModel &model, QWidget *parent)
    : QMainWindow(parent)
    , m_model(model)
    , m_root(new RootView(model, this))
{
    setWindowTitle(title());
    setObjectName(QStringLiteral("main"));
    m_root->setMinimumSize(820, 540);
    setCentralWidget(m_root);

    QMenu *application = menuBar()->addMenu(title());
    m_connection = application->addAction(QStringLiteral("连接网络"));
    m_connection->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    m_repair = application->addAction(QStringLiteral("修复网络设置…"));
    application->addSeparator();
    m_quit = application->addAction(QStringLiteral("退出"));
    m_quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    m_quit->setMenuRole(QAction::QuitRole);

    QMenu *line = menuBar()->addMenu(QStringLiteral("线路"));
    m_refreshNodes = line->addAction(QStringLiteral("刷新节点"));
    m_refreshNodes->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
    m_testAll = line->addAction(QStringLiteral("全部测速"));

    // The pages by number, in the sidebar's order, and the node search: listed here so the
    // menu shows their keys.
    QMenu *go = menuBar()->addMenu(QStringLiteral("前往"));
    const AppPage pages[] = { AppPage::dashboard, AppPage::nodes, AppPage::membership, AppPage::account,
        AppPage::settings };
    for (int i = 0; i < 5; ++i) {
        const AppPage page = pages[i];
        QAction *action = go->addAction(RootView::pageTitle(page));
        action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_1 + i)));
        action->setShortcutContext(Qt::WindowShortcut);
        QObject::connect(action, &QAction::triggered, this, [this, page] { m_model.setSelectedPage(page); });
        m_pageActions << action;
    }
    go->addSeparator();
    m_searchNodes = go->addAction(QStringLiteral("搜索节点"));
    m_searchNodes->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    QObject::connect(m_searchNodes, &QAction::triggered, this, [this] { m_root->focusNodeSearch(); });

    // Shortcuts work wherever the focus is in this window, also inside its sheets.
    for (QAction *action : { m_connection, m_quit, m_refreshNodes, m_searchNodes })
        action->setShortcutContext(Qt::WindowShortcut);

    QObject::connect(m_connection, &QAction::triggered, this, [this] { toggleConnection(m_model); });
    QObject::connect(m_repair, &QAction::triggered, this, [this] { m_model.repairNetworkSettings(); });
    QObject::connect(m_quit, &QAction::triggered, this, &MainWindow::quitRequested);
    QObject::connect(m_refreshNodes, &QAction::triggered, this, [this] { m_model.refreshNodes(); });
    QObject::connect(m_testAll, &QAction::triggered, this, [this] { m_model.testAllNodes(); });
    QObject::connect(&m_model, &AppModel::stateChanged, this, &MainWindow::render);
    render();
    fitToScale();
}

bool MainWindow::event(QEvent *event)
{
    // A new interface scale arrives as a new application font; the layouts take it first.
    if (event->type() == QEvent::ApplicationFontChange)
        QTimer::singleShot(0, this, &MainWindow::fitToScale);
    return QMainWindow::event(event);
}

// The window's size grows with the interface's scale, so that larger text needs no sideways
// scrolling; never past the screen's free area, and never smaller than the user made it.
void MainWindow::fitToScale()
{
    const int percent = std::max(100, theme::scalePercent());
    QSize wanted(940 * percent / 100, 620 * percent / 100 + menuBar()->sizeHint().height());
    if (const QScreen *shown = screen())
        wanted = wanted.boundedTo(shown->availableGeometry().size());
    resize(size().expandedTo(wanted));
}

void MainWindow::render()
{
    const bool connected = m_model.isConnected();
    m_connection->setText(connected ? QStringLiteral("断开连接") : QStringLiteral("连接网络"));
    // A member whose membership lapsed while connected can still disconnect.
    m_connection->setEnabled(!m_model.isBusy() && (connected || m_model.membershipActive()));
    m_refreshNodes->setEnabled(m_model.membershipActive());
    m_testAll->setEnabled(m_model.membershipActive() && m_model.isCoreRunning());
    // The five pages exist for a member only; the search only on the nodes page.
    const bool member = m_model.accessState() == AppAccessState::member;
    for (QAction *action : std::as_const(m_pageActions))
        action->setEnabled(member);
    m_searchNodes->setEnabled(member && m_model.selectedPage() == AppPage::nodes);
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        emit firstShown();
    }
}

} // namespace veyra::ui
