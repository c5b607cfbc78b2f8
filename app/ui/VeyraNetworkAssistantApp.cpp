#include "VeyraNetworkAssistantApp.h"

#include "AppDelegate.h"
#include "MainWindow.h"
#include "StatusMenuView.h"
#include "Theme.h"
#include "TrayIcon.h"

#include <QApplication>
#include <QMenu>
#include <QPixmapCache>
#include <QSystemTrayIcon>
#include <QTimer>

#include <malloc.h>

namespace veyra::ui {

void VeyraNetworkAssistantApp::defaultLeaveEventLoop()
{
    AppDelegate::defaultLeaveEventLoop();
}

VeyraNetworkAssistantApp::VeyraNetworkAssistantApp(
    AppCollaborators collaborators, std::function<void()> leaveEventLoop, QObject *parent)
    : QObject(parent)
    , m_model(std::make_unique<AppModel>(std::move(collaborators)))
    , m_delegate(std::make_unique<AppDelegate>(m_model.get(), std::move(leaveEventLoop)))
{
    m_statusMenu = new StatusMenuView(*m_model, this);
    QObject::connect(
        m_statusMenu, &StatusMenuView::showMainWindowRequested, this, &VeyraNetworkAssistantApp::showMainWindow);
    QObject::connect(m_statusMenu, &StatusMenuView::quitRequested, this, [this] { m_delegate->requestQuit(); });
}

VeyraNetworkAssistantApp::~VeyraNetworkAssistantApp()
{
    if (m_window) {
        QObject::disconnect(m_window, nullptr, this, nullptr);
        delete m_window;
    }
    delete m_tray;
}

MainWindow *VeyraNetworkAssistantApp::mainWindow() const
{
    return m_window;
}

void VeyraNetworkAssistantApp::start()
{
    m_delegate->watchQuitRequests();
    m_model->readSettingsBeforeFirstPaint();
    applyInterfaceScale();
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_tray = new TrayIcon(*m_model, m_statusMenu->menu(), this);
        QObject::connect(m_tray, &TrayIcon::activated, this, &VeyraNetworkAssistantApp::showMainWindow);
        // The menu closes as the command is copied; the tray says it was.
        QObject::connect(m_statusMenu, &StatusMenuView::terminalCommandCopied, m_tray,
            [this] { m_tray->confirm(QStringLiteral("已复制")); });
    }
    showMainWindow();
}

void VeyraNetworkAssistantApp::showMainWindow()
{
    if (!m_window) {
        m_window = new MainWindow(*m_model);
        // A closed window gives its widgets back; the tray, or a second start, brings it back.
        m_window->setAttribute(Qt::WA_DeleteOnClose);
        QObject::connect(m_window, &MainWindow::quitRequested, this, [this] { m_delegate->requestQuit(); });
        QObject::connect(m_window, &MainWindow::firstShown, this, [this] {
            if (!m_bootstrapStarted) {
                m_bootstrapStarted = true;
                runBootstrap(QPointer<VeyraNetworkAssistantApp>(this));
            }
        });
        QObject::connect(m_window, &QObject::destroyed, this, [this] {
            // Closing never quits, tray or not: a second start brings the window back, and
            // quitting is the menu's "退出" or the session's end. The window's widgets, pixmaps
            // and backing store are freed once this returns; the fonts it drew with and the
            // allocator's freed pages would stay unless given back, and an application that
            // lives in the background all day should not hold them. So would the style's and
            // the icons' cached pixmaps, drawn again when the window next opens.
            QTimer::singleShot(0, this, [] {
                theme::releaseLoadedFonts();
                QPixmapCache::clear();
                ::malloc_trim(0);
            });
        });
    }
    if (m_window->isMinimized())
        m_window->showNormal();
    else
        m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

QCoro::Task<> VeyraNetworkAssistantApp::runBootstrap(QPointer<VeyraNetworkAssistantApp> app)
{
    co_await app->model().bootstrap();
    if (app)
        app->applyInterfaceScale();
}

void VeyraNetworkAssistantApp::applyInterfaceScale()
{
    theme::setScalePercent(static_cast<int>(m_model->settings().uiScalePercent));
}

} // namespace veyra::ui
