#pragma once

#include "AppModel.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>

class QAction;
class QMenu;

namespace veyra::ui {

// The menu-bar (tray) menu: the status line, connect and disconnect, proxy mode, node choice,
// latency test, account actions and quit; every entry calls one model operation. It knows
// nothing of windows: entries that lead to the main window ask for it through
// showMainWindowRequested(). Each entry also keeps its symbol's name in the property "symbol";
// "checkmark" marks the current proxy mode and the chosen node.
//
// The entries are updated in place: a new latency or a test starting changes texts, marks and
// enabled states, and only entries that really come or go (a node, a region, another account
// state) are added or removed, so a submenu the user has open stays open under the pointer.
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
    // The terminal proxy command is on the clipboard.
    void terminalCommandCopied();

private:
    // A menu's node entries, by node name.
    using NodeEntries = QHash<QString, QAction *>;
    struct RegionMenu {
        QPointer<QMenu> menu;
        NodeEntries entries;
    };

    void render();
    void buildSection(AppAccessState state);
    void clearSection();
    void addSignedOutEntries();
    void addSignedInEntries();
    void addMemberEntries();
    void renderSignedIn();
    void renderMember();
    // Makes `menu`'s entries from position `offset` on the given nodes, in their order,
    // keeping the entries of nodes that stay.
    void syncNodeEntries(QMenu *menu, NodeEntries &entries, const QList<NodeItem> &nodes, int offset);
    void syncRegions(const QList<NodeItem> &nodes);
    void selectNodeNamed(const QString &name);
    QMenu *addSubmenu(QMenu *into, const QString &title, QAction *before = nullptr);
    QAction *addEntry(QMenu *into, const QString &text, const QString &symbol = {});
    QAction *makeEntry(const QString &text, const QString &symbol = {});
    QAction *addSeparator();
    static void setSymbol(QAction *action, const QString &symbol);

    AppModel &m_model;
    std::unique_ptr<QMenu> m_menu;
    QAction *m_status = nullptr;
    QAction *m_sectionEnd = nullptr; // the separator before quit; sections go in front of it
    std::optional<AppAccessState> m_builtFor; // the access state the section was built for
    QList<QAction *> m_sectionActions;
    QList<QPointer<QMenu>> m_submenus;

    // Entries of the signed-in and member sections that change in place.
    QAction *m_refresh = nullptr;
    QAction *m_connection = nullptr;
    QAction *m_copyCommand = nullptr;
    QMenu *m_modes = nullptr;
    QList<QAction *> m_modeEntries;
    QMenu *m_choice = nullptr;
    QAction *m_smart = nullptr;
    QAction *m_noNodes = nullptr;
    NodeEntries m_choiceEntries;
    QMenu *m_byRegion = nullptr;
    QAction *m_noRegions = nullptr;
    QMap<QString, RegionMenu> m_regions;
    QAction *m_activeNode = nullptr;
    QAction *m_quality = nullptr;
    QAction *m_retest = nullptr;
    bool m_showingCopied = false;
};

} // namespace veyra::ui
