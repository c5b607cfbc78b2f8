// The rules behind what the pages list: a plan card's features, prices and order states; the
// node list's regions, search, order and latency texts.
#include "NodeFilters.h"
#include "PlanFeatures.h"

#include <gtest/gtest.h>

using namespace veyra;
using namespace veyra::ui;

namespace {

constexpr qint64 GB = 1024LL * 1024 * 1024;

// Duration first, then traffic and devices from the numbers (never from the marketing lines),
// then the plan's own lines once each.
TEST(PlanFeatures, DurationTrafficDevicesThenTheOwnLinesPricesAndOrders)
{
    struct Case {
        const char *name;
        std::optional<bool> lifetime;
        std::optional<qint64> days, traffic, devices;
        QStringList own, shown;
    };
    const Case cases[] = {
        { "lifetime wins over days", true, 30, {}, {}, {}, { "长期有效", "不限流量" } },
        { "no days", false, {}, {}, {}, {}, { "以套餐说明为准", "不限流量" } },
        { "zero days", false, 0, {}, {}, {}, { "以套餐说明为准", "不限流量" } },
        { "metered", {}, 30, 200 * GB, 3,
            { "全部地区线路", "每月 150 gb 高速流量", "最多 5 台设备同时在线", "全部地区线路" },
            { "30 天", "200 GB", "3 台设备", "全部地区线路" } },
        { "unlimited", {}, 365, 0, 0, { "不限流量", "优先客服" }, { "365 天", "不限流量", "优先客服" } },
        { "one decimal", {}, 90, GB * 3 / 2, {}, {}, { "90 天", "1.5 GB" } },
    };
    for (const Case &c : cases) {
        Plan plan;
        std::tie(plan.lifetime, plan.durationDays, plan.trafficBytes, plan.deviceLimit, plan.features)
            = std::tie(c.lifetime, c.days, c.traffic, c.devices, c.own);
        EXPECT_EQ(displayFeatures(plan), c.shown) << c.name;
    }
    EXPECT_EQ(priceText(59805), "¥598.05");

    struct Order {
        const char *status, *shown;
        bool paid, final;
    };
    for (const Order &c : { Order { "PAID", "已支付", true, true }, Order { "pending", "待支付", false, false },
             Order { "Expired", "已过期", false, true } }) {
        PaymentOrder order;
        order.status = QString::fromLatin1(c.status);
        EXPECT_EQ(orderStatusText(order), QString::fromUtf8(c.shown)) << c.status;
        EXPECT_EQ(order.isPaid(), c.paid) << c.status;
        EXPECT_EQ(order.isFinal(), c.final) << c.status;
    }
}

NodeItem node(const char *name, const char *region, int delay)
{
    return NodeItem { name, region, "🏳", delay, "维拉官方" };
}

QStringList names(const QList<NodeItem> &nodes)
{
    QStringList list;
    for (const NodeItem &item : nodes)
        list << item.name;
    return list;
}

// The search is trimmed, case-blind and looks at the name and the region; the region narrows
// its matches; the order is kept. Regions are distinct and sorted after "全部".
TEST(NodeFilters, RegionsSearchOrderAndLatency)
{
    const QList<NodeItem> sample { node("香港 01", "香港", 80), node("VEYRA-AWS-TOKYO-01", "日本", 120),
        node("大阪 02", "日本", -1), node("Relay", "Tokyo relay", 300), node("香港 02", "香港", 0) };
    EXPECT_EQ(regionChoices(sample.mid(0, 3)), (QStringList { "全部", "日本", "香港" }));
    struct Case {
        const char *search, *region;
        QStringList found;
    };
    const Case cases[] = {
        { "  tokyo ", "全部", { "VEYRA-AWS-TOKYO-01", "Relay" } }, { "tokyo", "日本", { "VEYRA-AWS-TOKYO-01" } },
        { "   ", "香港", { "香港 01", "香港 02" } }, { "日本", "全部", { "VEYRA-AWS-TOKYO-01", "大阪 02" } },
        { "", "新加坡", {} }, // a region no node has any more matches nothing
    };
    for (const Case &c : cases)
        EXPECT_EQ(names(filteredNodes(sample, QString::fromUtf8(c.search), QString::fromUtf8(c.region))), c.found)
            << '"' << c.search << "\" in " << c.region;

    // By shown latency, unmeasured last, ties by name: Tokyo's 120 ms shows as 70 (its preference).
    EXPECT_EQ(names(sortedNodes(QList<NodeItem>(sample) << node("A 节点", "其他地区", 80))),
        (QStringList { "VEYRA-AWS-TOKYO-01", "A 节点", "香港 01", "Relay", "大阪 02", "香港 02" }));
    EXPECT_EQ(latencyText(sample[1]), "70 ms");
    EXPECT_EQ(latencyText(sample[4]), "未测速");
}

} // namespace
