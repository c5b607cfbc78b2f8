#include "NodeFilters.h"

#include <gtest/gtest.h>

using namespace veyra;
using namespace veyra::ui;

namespace {

NodeItem node(const QString &name, const QString &region, int delay = 0)
{
    return NodeItem { name, region, QStringLiteral("🏳"), delay, QStringLiteral("维拉官方") };
}

QStringList names(const QList<NodeItem> &nodes)
{
    QStringList list;
    for (const NodeItem &item : nodes)
        list << item.name;
    return list;
}

const QList<NodeItem> sample {
    node(QStringLiteral("香港 01"), QStringLiteral("香港"), 80),
    node(QStringLiteral("VEYRA-AWS-TOKYO-01"), QStringLiteral("日本"), 120),
    node(QStringLiteral("大阪 02"), QStringLiteral("日本"), -1),
    node(QStringLiteral("Relay"), QStringLiteral("Tokyo relay"), 300),
    node(QStringLiteral("香港 02"), QStringLiteral("香港"), 0),
};

} // namespace

TEST(NodeFilters, RegionsAreDistinctAndSortedAfterAll)
{
    const QList<NodeItem> nodes { sample[0], sample[1], sample[2], sample[4] };
    EXPECT_EQ(regionChoices(nodes), (QStringList { "全部", "日本", "香港" }));
    EXPECT_EQ(nodeRegions(nodes), (QStringList { "日本", "香港" }));
    EXPECT_EQ(regionChoices({}), QStringList { "全部" });
}

TEST(NodeFilters, SearchIsTrimmedCaseBlindAndLooksAtNameAndRegion)
{
    EXPECT_EQ(names(filteredNodes(sample, QStringLiteral("  tokyo "), QStringLiteral("全部"))),
        (QStringList { "VEYRA-AWS-TOKYO-01", "Relay" }));
    // Both tests must pass: the region narrows the search's matches, order is kept.
    EXPECT_EQ(names(filteredNodes(sample, QStringLiteral("tokyo"), QStringLiteral("日本"))),
        QStringList { "VEYRA-AWS-TOKYO-01" });
    EXPECT_EQ(names(filteredNodes(sample, QStringLiteral("   "), QStringLiteral("香港"))),
        (QStringList { "香港 01", "香港 02" }));
    EXPECT_EQ(names(filteredNodes(sample, QStringLiteral("日本"), QStringLiteral("全部"))),
        (QStringList { "VEYRA-AWS-TOKYO-01", "大阪 02" }));
    // A region no node has any more matches nothing.
    EXPECT_TRUE(filteredNodes(sample, {}, QStringLiteral("新加坡")).isEmpty());
}

TEST(NodeFilters, SortedByShownLatencyWithUnmeasuredLastAndTiesByName)
{
    // Tokyo's 120 ms shows as 70 (its preference), ahead of Hong Kong's 80.
    QList<NodeItem> nodes = sample;
    nodes << node(QStringLiteral("A 节点"), QStringLiteral("其他地区"), 80);
    EXPECT_EQ(names(sortedNodes(nodes)),
        (QStringList { "VEYRA-AWS-TOKYO-01", "A 节点", "香港 01", "Relay", "大阪 02", "香港 02" }));
    EXPECT_EQ(latencyText(sample[1]), "70 ms");
    EXPECT_EQ(latencyText(sample[2]), "未测速");
    EXPECT_EQ(latencyText(sample[4]), "未测速");
}
