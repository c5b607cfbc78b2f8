#pragma once

#include "AppCollaborators.h"
#include "AppModel.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

namespace veyra {
class AppDelegate;
}

namespace veyra::ui {

class MainWindow;
class StatusMenuView;
class TrayIcon;

// The application: its one model and quit delegate, the main window and the menu-bar (tray)
// menu. The window may be closed and opened again; the model and the tray stay.
class VeyraNetworkAssistantApp : public QObject {
    Q_OBJECT
public:
    // `leaveEventLoop` ends the process once a quit has run (tests pass something gentler).
    explicit VeyraNetworkAssistantApp(AppCollaborators collaborators = AppCollaborators::product(),
        std::function<void()> leaveEventLoop = defaultLeaveEventLoop, QObject *parent = nullptr);
    static void defaultLeaveEventLoop();
    ~VeyraNetworkAssistantApp() override;

    // Shows the tray icon where the desktop has a tray, and the main window.
    void start();
    // Restores a minimised window, raises a hidden one, or opens a new one.
    void showMainWindow();

    AppModel &model() { return *m_model; }
    AppDelegate &delegate() { return *m_delegate; }
    MainWindow *mainWindow() const;
    StatusMenuView *statusMenu() const { return m_statusMenu; }
    TrayIcon *trayIcon() const { return m_tray; }

private:
    static QCoro::Task<> runBootstrap(QPointer<VeyraNetworkAssistantApp> app);
    void applyInterfaceScale();

    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<AppDelegate> m_delegate;
    QPointer<MainWindow> m_window;
    StatusMenuView *m_statusMenu = nullptr;
    TrayIcon *m_tray = nullptr;
    bool m_bootstrapStarted = false;
};

} // namespace veyra::ui
