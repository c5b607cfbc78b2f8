#include "NodesView.h"

#include "AppModel.h"
#include "Controls.h"
#include "EmptyStateView.h"
#include "Icons.h"
#include "NodeFilters.h"
#include "PageHeader.h"
#include "SectionCard.h"
#include "Theme.h"
#include "ToggleSwitch.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTableWidget>
#include <QVBoxLayout>

namespace veyra::ui {

namespace {

enum Column { nodeColumn, delayColumn, sourceColumn, actionColumn, columnCount };

const QString selectLabel = QStringLiteral("选择");
const QString selectedLabel = QStringLiteral("已选择");
const QString syncingLabel = QStringLiteral("同步中");

QStringList namesOf(const QList<NodeItem> &nodes)
{
    QStringList names;
    for (const NodeItem &node : nodes)
        names << node.name;
    return names;
}

} // namespace

NodesView::NodesView(AppModel &model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_selectedRegion(allRegionsChoice())
    , m_refresh(new OperationButton(
          QStringLiteral("刷新"), QStringLiteral("正在刷新…"), this, QStringLiteral("arrow.clockwise")))
    , m_testAll(new OperationButton(
          QStringLiteral("全部测速"), QStringLiteral("正在测速…"), this, QStringLiteral("speedometer")))
    , m_search(new QLineEdit(this))
    , m_regions(new QComboBox(this))
    , m_smart(new ToggleSwitch(QStringLiteral("智能优选"), this))
    , m_content(new QStackedWidget(this))
    , m_empty(new EmptyStateView({}, QStringLiteral("point.3.connected.trianglepath.dotted"), {}, this))
    , m_table(new QTableWidget(0, columnCount, this))
{
    auto *header = new PageHeader(QStringLiteral("官方节点"),
        QStringLiteral("仅展示会员账号授权的维拉节点，支持搜索、地区筛选和真实测速。"), this);
    header->addTrailing(m_refresh);
    header->addTrailing(m_testAll);

    m_search->setPlaceholderText(QStringLiteral("搜索节点或地区"));
    m_search->setAccessibleName(m_search->placeholderText());
    m_search->setClearButtonEnabled(true);
    m_search->addAction(
        symbolIcon(QStringLiteral("magnifyingglass"), theme::secondaryText()), QLineEdit::LeadingPosition);
    auto *regionTitle = new QLabel(QStringLiteral("地区"), this);
    regionTitle->setBuddy(m_regions);
    m_regions->setAccessibleName(regionTitle->text());
    m_regions->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_smart->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    auto *filters = new QHBoxLayout;
    filters->setSpacing(theme::unit * 3 / 2);
    filters->addWidget(m_search, 1);
    filters->addSpacing(theme::unit);
    filters->addWidget(regionTitle);
    filters->addWidget(m_regions);
    filters->addSpacing(theme::unit);
    filters->addWidget(m_smart);

    const QStringList titles { QStringLiteral("节点"), QStringLiteral("延迟"), QStringLiteral("来源"),
        QStringLiteral("操作") };
    m_table->setHorizontalHeaderLabels(titles);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSectionResizeMode(nodeColumn, QHeaderView::Stretch);
    m_table->horizontalHeader()->setSectionResizeMode(delayColumn, QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSectionResizeMode(sourceColumn, QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSectionResizeMode(actionColumn, QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_table->horizontalHeader()->setHighlightSections(false);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_table->setShowGrid(false);
    m_table->setAlternatingRowColors(true);
    m_table->setWordWrap(false);
    // Tab stops at the table once (the arrow keys then read it cell by cell, names, latencies
    // and sources) and goes on through the rows' buttons rather than cell by cell; a click on a
    // cell does not take the focus.
    m_table->setFocusPolicy(Qt::TabFocus);
    m_table->setTabKeyNavigation(false);
    m_table->setAccessibleName(QStringLiteral("官方节点"));

    m_content->addWidget(m_empty);
    m_content->addWidget(m_table);
    auto *card = new SectionCard(this);
    card->body()->setContentsMargins(theme::unit, theme::unit, theme::unit, theme::unit);
    card->body()->addWidget(m_content);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(theme::unit * 3, theme::unit * 3, theme::unit * 3, theme::unit * 3);
    column->setSpacing(theme::unit * 2);
    column->addWidget(header);
    column->addLayout(filters);
    column->addWidget(card, 1);

    QObject::connect(
        m_refresh, &QPushButton::clicked, this, [this] { m_refresh->run([this] { return m_model.refreshNodes(); }); });
    QObject::connect(
        m_testAll, &QPushButton::clicked, this, [this] { m_testAll->run([this] { return m_model.testAllNodes(); }); });
    QObject::connect(m_search, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_searchText = text;
        render();
    });
    QObject::connect(m_regions, &QComboBox::activated, this, &NodesView::chooseRegion);
    QObject::connect(m_smart, &ToggleSwitch::clicked, this, [this](bool on) {
        // Once the change has ended the switch shows what the settings hold, also when refused.
        whenDone(this, m_model.setSmartSelection(on), [this] {
            m_shownSmartSelection.reset();
            render();
        });
    });
    QObject::connect(&m_model, &AppModel::stateChanged, this, &NodesView::render);
    render();
}

bool NodesView::showsTable() const
{
    return m_content->currentWidget() == m_table;
}

QPushButton *NodesView::selectionButton(const QString &nodeName) const
{
    if (!showsTable())
        return nullptr;
    for (const Row &row : m_rows)
        if (row.name == nodeName)
            return row.button;
    return nullptr;
}

void NodesView::chooseRegion(int index)
{
    m_selectedRegion = m_regions->itemText(index);
    render();
}

void NodesView::render()
{
    const bool running = m_model.isCoreRunning();
    const bool busy = m_model.isBusy();
    // Refreshing is refused while another workflow runs, so the button says so.
    m_refresh->setAvailable(running && !busy);
    m_testAll->setAvailable(running && !m_model.isTesting());
    // As with the mode picker: the switch follows the stored value when that changes, and is
    // left alone while the user's change is being applied.
    if (m_shownSmartSelection != m_model.settings().smartSelection) {
        const QSignalBlocker blocker(m_smart);
        m_smart->setChecked(m_model.settings().smartSelection);
        m_shownSmartSelection = m_model.settings().smartSelection;
    }
    m_smart->setEnabled(!busy);
    renderRegions();

    const QList<NodeItem> &nodes = m_model.nodes();
    if (nodes.isEmpty()) {
        if (running)
            m_empty->setContent(QStringLiteral("官方节点仍在加载"),
                QStringLiteral("point.3.connected.trianglepath.dotted"),
                QStringLiteral("可点击刷新；若持续为空，请刷新会员权益。"));
        else
            m_empty->setContent(QStringLiteral("连接后查看节点"),
                QStringLiteral("point.3.connected.trianglepath.dotted"),
                QStringLiteral("登录有效会员账号后，官方线路会自动下发。"));
        m_content->setCurrentWidget(m_empty);
        renderRows({});
        return;
    }
    const QList<NodeItem> matching = filteredNodes(nodes, m_searchText, m_selectedRegion);
    if (matching.isEmpty()) {
        m_empty->setContent(QStringLiteral("没有匹配的节点"), QStringLiteral("magnifyingglass"),
            QStringLiteral("请调整搜索内容或地区筛选。"));
        m_content->setCurrentWidget(m_empty);
        renderRows({});
        return;
    }
    renderRows(matching);
    m_content->setCurrentWidget(m_table);
    renderSelection();
}

void NodesView::renderRegions()
{
    QStringList choices = regionChoices(m_model.nodes());
    // A region that left the list with a refresh stays chosen (and named) until the user picks
    // another one; the filter then simply matches nothing.
    if (!choices.contains(m_selectedRegion))
        choices << m_selectedRegion;
    if (choices == m_shownRegions)
        return;
    const QSignalBlocker blocker(m_regions);
    m_regions->clear();
    m_regions->addItems(choices);
    m_regions->setCurrentIndex(static_cast<int>(choices.indexOf(m_selectedRegion)));
    m_shownRegions = choices;
}

void NodesView::renderRows(const QList<NodeItem> &nodes)
{
    if (nodes == m_shownNodes)
        return;
    // The same rows with new latencies are updated in place, so a focused button keeps focus.
    if (namesOf(nodes) == namesOf(m_shownNodes)) {
        for (int row = 0; row < nodes.size(); ++row)
            fillRow(row, nodes.at(row));
        m_shownNodes = nodes;
        return;
    }
    m_table->setRowCount(0);
    m_rows.clear();
    m_table->setRowCount(static_cast<int>(nodes.size()));
    for (int row = 0; row < nodes.size(); ++row) {
        const NodeItem &node = nodes.at(row);
        auto *cell = new QWidget;
        auto *layout = new QHBoxLayout(cell);
        layout->setContentsMargins(theme::unit, theme::unit / 2, theme::unit, theme::unit / 2);
        layout->setSpacing(theme::unit);
        QProgressBar *syncing = makeBusyBar(theme::unit * 3, cell);
        syncing->hide();
        // The action column keeps its width while a row goes from "选择" to "同步中" to "已选择".
        auto *button = new SteadyButton({ selectLabel, selectedLabel, syncingLabel }, cell);
        // The progress mark trails the button, so the buttons stay under the column's title.
        layout->addWidget(button);
        layout->addWidget(syncing, 0, Qt::AlignVCenter);
        const QString name = node.name;
        QObject::connect(button, &QPushButton::clicked, this, [this, name] {
            for (const NodeItem &shown : m_shownNodes)
                if (shown.name == name) {
                    m_model.selectNode(shown);
                    return;
                }
        });
        m_table->setCellWidget(row, actionColumn, cell);
        m_rows << Row { name, button, syncing };
        fillRow(row, node);
    }
    m_shownNodes = nodes;
}

void NodesView::fillRow(int row, const NodeItem &node)
{
    const auto cell = [&](int column, const QString &text) {
        QTableWidgetItem *item = m_table->item(row, column);
        if (!item) {
            item = new QTableWidgetItem;
            item->setFlags(Qt::ItemIsEnabled);
            m_table->setItem(row, column, item);
        }
        item->setText(text);
        return item;
    };
    cell(nodeColumn, node.flag + QLatin1Char(' ') + node.name);
    QTableWidgetItem *delay = cell(delayColumn, latencyText(node));
    const std::optional<int> shown = node.displayDelay();
    delay->setForeground(shown ? theme::latencyColor(*shown) : theme::secondaryText());
    cell(sourceColumn, node.source);
}

void NodesView::renderSelection()
{
    const AppSettings &settings = m_model.settings();
    const std::optional<QString> &selecting = m_model.selectingNodeName();
    const bool refused = !m_model.isCoreRunning() || selecting.has_value() || m_model.isBusy();
    for (const Row &row : m_rows) {
        const bool selected = !settings.smartSelection && settings.selectedNode == row.name;
        const bool syncing = selecting == row.name;
        row.button->setText(syncing ? syncingLabel : selected ? selectedLabel : selectLabel);
        row.button->setAccessibleName(
            selected ? row.name + QStringLiteral(" 已选择") : QStringLiteral("选择并同步 ") + row.name);
        const bool enabled = !refused && !selected;
        row.button->setEnabled(enabled);
        // An untinted button while refused, so that it reads as disabled (the accent tint has no
        // disabled look of its own).
        setStyleProperty(row.button, "tint", QString::fromLatin1(selected ? "green" : enabled ? "accent" : ""));
        row.syncing->setVisible(syncing);
    }
}

} // namespace veyra::ui
