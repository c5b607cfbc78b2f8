// The nodes page: the table of the model's nodes, its search and region filter. Choosing a node
// from a row is walked with the connected window.
#include "EmptyStateView.h"
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

// The table's rows as shown ("flag name"), or what the empty page says instead; then the
// region picker's entries.
QStringList rows(const NodesView &view)
{
    QStringList shown;
    for (int row = 0; view.showsTable() && row < view.table()->rowCount(); ++row)
        shown << view.table()->item(row, 0)->text();
    if (!view.showsTable())
        shown << view.emptyState()->title();
    for (int i = 0; i < view.regionPicker()->count(); ++i)
        shown << "[" + view.regionPicker()->itemText(i) + "]";
    return shown;
}

TEST(NodesView, TheRowsFollowTheNodesTheSearchAndTheRegion)
{
    StagedModel model;
    model.becomeMember();
    NodesView view(model);
    const auto pickRegion = [&](const QString &region) {
        view.regionPicker()->setCurrentIndex(view.regionPicker()->findText(region));
        emit view.regionPicker()->activated(view.regionPicker()->currentIndex());
    };
    EXPECT_EQ(rows(view), (QStringList { "连接后查看节点", "[全部]" }));
    EXPECT_FALSE(findButton(&view, "刷新")->isEnabled());
    EXPECT_FALSE(findButton(&view, "全部测速")->isEnabled());
    model.setIsCoreRunning(true);
    EXPECT_EQ(rows(view).first(), "官方节点仍在加载");
    EXPECT_TRUE(findButton(&view, "刷新")->isEnabled());

    const QList<NodeItem> nodes { { "东京 01", "日本", "🏳", 120, "veyra_official" },
        { "首尔 Seoul", "韩国", "🏳", 90, "veyra_official" }, { "香港 02", "香港", "🏳", -1, "veyra_official" } };
    model.setNodes(nodes);
    EXPECT_EQ(rows(view),
        (QStringList {
            "🏳 东京 01", "🏳 首尔 Seoul", "🏳 香港 02", "[全部]", "[日本]", "[韩国]", "[香港]" }));
    EXPECT_EQ(view.table()->item(2, 1)->text(), "未测速");
    QTest::keyClicks(view.searchField(), " SEOUL ");
    EXPECT_EQ(rows(view).first(), "🏳 首尔 Seoul");
    view.searchField()->setText(QStringLiteral("no such node"));
    EXPECT_EQ(rows(view).first(), "没有匹配的节点");
    view.searchField()->clear();

    // A region filter, then a refresh without that region's only node: the choice stays, and so
    // does the picker's entry for it, with nothing to match until the user picks another region.
    pickRegion("日本");
    EXPECT_EQ(rows(view).first(), "🏳 东京 01");
    model.setNodes(nodes.mid(1));
    EXPECT_EQ(view.selectedRegion(), "日本");
    EXPECT_EQ(rows(view), (QStringList { "没有匹配的节点", "[全部]", "[韩国]", "[香港]", "[日本]" }));
    EXPECT_EQ(view.regionPicker()->currentText(), "日本");
    pickRegion("全部");
    EXPECT_EQ(rows(view), (QStringList { "🏳 首尔 Seoul", "🏳 香港 02", "[全部]", "[韩国]", "[香港]" }));
}

} // namespace
