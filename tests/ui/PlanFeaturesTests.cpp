// What a plan card lists, and the money and order texts the pages share.
#include "PlanFeatures.h"

#include <gtest/gtest.h>

using namespace veyra;
using namespace veyra::ui;

namespace {

constexpr qint64 GB = 1024LL * 1024 * 1024;

// Duration first, then traffic and devices from the numbers (never from the marketing lines),
// then the plan's own lines once each.
TEST(PlanFeatures, DurationTrafficDevicesThenTheOwnLines)
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
            { "全部地区线路", "每月 150 gb 高速流量", "最多 5 台设备同时在线", "30 天", "全部地区线路" },
            { "30 天", "200 GB", "3 台设备", "全部地区线路" } },
        { "unlimited", {}, 365, 0, 0, { "不限流量", "优先客服" }, { "365 天", "不限流量", "优先客服" } },
        { "one decimal", {}, 90, GB * 3 / 2, {}, {}, { "90 天", "1.5 GB" } },
    };
    for (const Case &c : cases) {
        Plan plan;
        plan.lifetime = c.lifetime;
        plan.durationDays = c.days;
        plan.trafficBytes = c.traffic;
        plan.deviceLimit = c.devices;
        plan.features = c.own;
        EXPECT_EQ(displayFeatures(plan), c.shown) << c.name;
    }
}

TEST(PlanFeatures, PricesAndOrders)
{
    EXPECT_EQ(priceText(2500), QStringLiteral("¥25.00"));
    EXPECT_EQ(priceText(59801), QStringLiteral("¥598.01"));
    EXPECT_EQ(priceText(5), QStringLiteral("¥0.05"));

    struct Case {
        const char *status, *shown;
        bool paid, final;
    };
    for (const Case &c : { Case { "PAID", "已支付", true, true }, Case { "pending", "待支付", false, false },
             Case { "Expired", "已过期", false, true } }) {
        PaymentOrder order;
        order.status = QString::fromLatin1(c.status);
        EXPECT_EQ(orderStatusText(order), QString::fromUtf8(c.shown)) << c.status;
        EXPECT_EQ(order.isPaid(), c.paid) << c.status;
        EXPECT_EQ(order.isFinal(), c.final) << c.status;
    }

    PaymentOrder order;
    EXPECT_EQ(orderPlanName(order), QStringLiteral("会员"));
    order.planName = QStringLiteral("季度会员");
    EXPECT_EQ(orderPlanName(order), QStringLiteral("季度会员"));
}

} // namespace
