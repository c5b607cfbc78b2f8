#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class QAction;
class QMenu;

namespace veyra {
class AppModel;
struct NodeItem;
} // namespace veyra

namespace veyra::ui {

// The menu-bar (tray) menu: connect and disconnect, proxy mode, node choice, latency test,
// account actions and quit. Its entries are rebuilt from the model whenever the model changes
// and right before it opens; every entry calls one model operation. It knows nothing of
// windows: entries that lead to the main window ask for it through showMainWindowRequested().
// Each entry also keeps its symbol's name in the property "symbol"; "checkmark" marks the
// current proxy mode and the chosen node.
class StatusMenuView : public QObject {
    Q_OBJECT
public:
    explicit StatusMenuView(AppModel &model, QObject *parent = nullptr);
    ~StatusMenuView() override;

    QMenu *menu() const { return m_menu.get(); }

    // One node as a menu entry reads it: flag, name, and the displayed latency.
    static QString nodeTitle(const NodeItem &node);

signals:
    void showMainWindowRequested();
    void quitRequested();

private:
    QString contentKey() const;
    void rebuild();
    void addSignedOutEntries();
    void addSignedInEntries();
    void addMemberEntries();
    void addNodeEntries(QMenu *into, const QList<NodeItem> &nodes);
    QMenu *addSubmenu(QMenu *into, const QString &title);
    QAction *addEntry(QMenu *into, const QString &text, const QString &symbol = {});

    AppModel &m_model;
    std::unique_ptr<QMenu> m_menu;
    // Submenus of the current entries; released with them at the next rebuild.
    QList<QPointer<QMenu>> m_submenus;
    QString m_contentKey;
};

} // namespace veyra::ui
