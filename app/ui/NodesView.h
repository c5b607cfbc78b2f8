#pragma once

#include "NodeItem.h"

#include <QStringList>
#include <QWidget>

#include <optional>

class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QTableWidget;

namespace veyra {
class AppModel;
}

namespace veyra::ui {

class OperationButton;

class EmptyStateView;
class ToggleSwitch;

// The nodes page: the running kernel's nodes with their latency, searchable and filtered by
// region, with smart selection, refresh, a latency test of all, and the choice of one node.
// The page's own state is only the search text and the chosen region.
class NodesView : public QWidget {
    Q_OBJECT
public:
    explicit NodesView(AppModel &model, QWidget *parent = nullptr);

    QString searchText() const { return m_searchText; }
    QString selectedRegion() const { return m_selectedRegion; }

    QLineEdit *searchField() const { return m_search; }
    QComboBox *regionPicker() const { return m_regions; }
    ToggleSwitch *smartSelectionSwitch() const { return m_smart; }
    QTableWidget *table() const { return m_table; }
    EmptyStateView *emptyState() const { return m_empty; }
    // Whether the table (rather than an empty-state panel) is what the page shows.
    bool showsTable() const;
    // The selection button in the row of the named node, when that row is shown.
    QPushButton *selectionButton(const QString &nodeName) const;

private:
    struct Row {
        QString name;
        QPushButton *button;
        QProgressBar *syncing;
    };

    void render();
    void renderRegions();
    void renderRows(const QList<NodeItem> &nodes);
    void fillRow(int row, const NodeItem &node);
    void renderSelection();
    void chooseRegion(int index);

    AppModel &m_model;
    QString m_searchText;
    QString m_selectedRegion;

    OperationButton *m_refresh;
    OperationButton *m_testAll;
    QLineEdit *m_search;
    QComboBox *m_regions;
    ToggleSwitch *m_smart;
    QStackedWidget *m_content;
    EmptyStateView *m_empty;
    QTableWidget *m_table;

    QStringList m_shownRegions;
    QList<NodeItem> m_shownNodes;
    QList<Row> m_rows;
    std::optional<bool> m_shownSmartSelection;
};

} // namespace veyra::ui
