// The nodes page: the table of the model's nodes, its search and region filter. Choosing a node
// from a row is walked with the connected window.
#include "EmptyStateView.h"
#include "NodeFilters.h"
#include "NodesView.h"
#include "UiTestSupport.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
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

    const QList<NodeItem> nodes { node("东京 01", "日本", 120), node("首尔 Seoul", "韩国", 90),
        node("香港 02", "香港", -1) };
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

} // namespace
