#pragma once

#include <QList>
#include <QMainWindow>

class QAction;

namespace veyra {
class AppModel;
}

namespace veyra::ui {

class RootView;

// The window titled "维拉网络助手": the root view and the application's menu commands. Closing
// it does not quit; the menu-bar menu stays.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    static QString title();

    explicit MainWindow(AppModel &model, QWidget *parent = nullptr);
    RootView *rootView() const { return m_root; }
    QAction *connectionAction() const { return m_connection; }
    QAction *repairAction() const { return m_repair; }
    QAction *quitAction() const { return m_quit; }
    QAction *refreshNodesAction() const { return m_refreshNodes; }
    QAction *testAllAction() const { return m_testAll; }
    // Ctrl+1 … Ctrl+5, in the sidebar's order; Ctrl+F.
    const QList<QAction *> &pageActions() const { return m_pageActions; }
    QAction *searchNodesAction() const { return m_searchNodes; }

signals:
    // The content was shown for the first time.
    void firstShown();
    void quitRequested();

protected:
    void showEvent(QShowEvent *event) override;
    bool event(QEvent *event) override;

private:
    void render();
    void fitToScale();

    AppModel &m_model;
    RootView *m_root;
    QAction *m_connection;
    QAction *m_repair;
    QAction *m_quit;
    QAction *m_refreshNodes;
    QAction *m_testAll;
    QList<QAction *> m_pageActions;
    QAction *m_searchNodes;
    bool m_shown = false;
};

} // namespace veyra::ui
