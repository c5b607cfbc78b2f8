// The nodes page: the table of the model's nodes, its search and region filter, and choosing a
// node in the kernel from a row.
#include "EmptyStateView.h"
#include "ModelWorld.h"
#include "NodeFilters.h"
#include "NodesView.h"
#include "ToggleSwitch.h"
#include "UiTestSupport.h"

#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

using namespace veyra;
using namespace veyra::test;
using namespace veyra::ui;

namespace {

QStringList pickerItems(const NodesView &view)
{
    QStringList items;
    for (int i = 0; i < view.regionPicker()->count(); ++i)
        items << view.regionPicker()->itemText(i);
    return items;
}

// The table's rows as shown ("flag name"), or what the empty page says instead.
QStringList rows(const NodesView &view)
{
    if (!view.showsTable())
        return { view.emptyState()->title() };
    QStringList shown;
    for (int row = 0; row < view.table()->rowCount(); ++row)
        shown << view.table()->item(row, 0)->text();
    return shown;
}

// A choice in the region picker as the user makes it.
void pickRegion(NodesView &view, const QString &region)
{
    const int index = view.regionPicker()->findText(region);
    ASSERT_GE(index, 0) << region.toStdString();
    view.regionPicker()->setCurrentIndex(index);
    emit view.regionPicker()->activated(index);
}

NodeItem node(const char *name, const char *region, int delay)
{
    return NodeItem { name, region, "🏳", delay, "veyra_official" };
}

TEST(NodesView, TheRowsFollowTheNodesTheSearchAndTheRegion)
{
    StagedModel model;
    model.becomeMember();
    NodesView view(model);
    EXPECT_EQ(rows(view), QStringList { "连接后查看节点" });
    EXPECT_FALSE(findButton(&view, "刷新")->isEnabled());
    EXPECT_FALSE(findButton(&view, "全部测速")->isEnabled());
    EXPECT_EQ(pickerItems(view), QStringList { "全部" });
    model.setIsCoreRunning(true);
    EXPECT_EQ(rows(view), QStringList { "官方节点仍在加载" });
    EXPECT_TRUE(findButton(&view, "刷新")->isEnabled());

    const QList<NodeItem> nodes { node("东京 01", "日本", 120), node("首尔 Seoul", "韩国", 90), node("香港 02", "香港", -1) };
    model.setNodes(nodes);
    EXPECT_EQ(rows(view), (QStringList { "🏳 东京 01", "🏳 首尔 Seoul", "🏳 香港 02" }));
    EXPECT_EQ(pickerItems(view), regionChoices(nodes));
    EXPECT_EQ(view.table()->item(2, 1)->text(), "未测速");

    // The search narrows the rows (its rules have tests of their own).
    QTest::keyClicks(view.searchField(), " SEOUL ");
    EXPECT_EQ(rows(view), QStringList { "🏳 首尔 Seoul" });
    view.searchField()->setText(QStringLiteral("no such node"));
    EXPECT_EQ(rows(view), QStringList { "没有匹配的节点" });
    view.searchField()->clear();

    // A region filter, then a refresh without that region's only node: the choice stays, and so
    // does the picker's entry for it, with nothing to match until the user picks another region.
    pickRegion(view, "日本");
    EXPECT_EQ(rows(view), QStringList { "🏳 东京 01" });
    model.setNodes(nodes.mid(1));
    EXPECT_EQ(view.selectedRegion(), "日本");
    EXPECT_EQ(view.regionPicker()->currentText(), "日本");
    EXPECT_EQ(rows(view), QStringList { "没有匹配的节点" });
    pickRegion(view, "全部");
    EXPECT_EQ(rows(view), (QStringList { "🏳 首尔 Seoul", "🏳 香港 02" }));
    EXPECT_EQ(pickerItems(view), regionChoices(nodes.mid(1)));
}

class NodesViewIntegration : public ModelWorld { };

TEST_F(NodesViewIntegration, ARowChoosesItsNodeInTheKernel)
{
    AppModel &m = makeModel();
    NodesView view(m);
    view.resize(760, 560);
    await(m.connect());
    ASSERT_TRUE(m.isConnected()) << m.alertMessage().value_or(QString()).toStdString();
    ASSERT_TRUE(view.showsTable());
    EXPECT_EQ(rows(view).size(), m.nodes().size());

    // Smart selection is on: every row offers "选择".
    QPushButton *choose = view.selectionButton("Hong Kong 02");
    ASSERT_NE(choose, nullptr);
    EXPECT_EQ(choose->text(), "选择");
    EXPECT_TRUE(choose->isEnabled());
    EXPECT_EQ(choose->property("tint").toString(), "accent");

    // Pressing it: that row syncs and every other row waits; then the kernel and the settings
    // name the node, and its row reads "已选择".
    QTest::mouseClick(choose, Qt::LeftButton);
    ASSERT_EQ(m.selectingNodeName(), std::optional<QString>("Hong Kong 02"));
    EXPECT_EQ(choose->text(), "同步中");
    EXPECT_TRUE(choose->parentWidget()->findChild<QProgressBar *>()->isVisibleTo(&view));
    EXPECT_FALSE(view.selectionButton("东京 01")->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return !m.selectingNodeName() && m.settings().selectedNode == "Hong Kong 02"; }));
    EXPECT_EQ(selectedInKernel(), "Hong Kong 02");
    choose = view.selectionButton("Hong Kong 02");
    EXPECT_EQ(choose->text(), "已选择");
    EXPECT_FALSE(choose->isEnabled());
    EXPECT_EQ(choose->property("tint").toString(), "green");
    EXPECT_EQ(choose->accessibleName(), "Hong Kong 02 已选择");
    EXPECT_FALSE(choose->parentWidget()->findChild<QProgressBar *>()->isVisibleTo(&view));
    EXPECT_TRUE(view.selectionButton("东京 01")->isEnabled());
    EXPECT_FALSE(view.smartSelectionSwitch()->isChecked());

    // The switch turns smart selection back on.
    QTest::mouseClick(view.smartSelectionSwitch(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return m.settings().smartSelection; }));
    EXPECT_EQ(selectedInKernel(), "智能优选");
    EXPECT_EQ(view.selectionButton("Hong Kong 02")->text(), "选择");

    // The refresh button asks the kernel again.
    ASSERT_TRUE(press(&view, "刷新"));
    EXPECT_TRUE(findButton(&view, "正在刷新…"));
    EXPECT_TRUE(waitUntil([&] { return findButton(&view, "刷新"); }));
}

} // namespace
