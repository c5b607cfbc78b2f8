// What a plan card lists, and the money and order texts the pages share.
#include "PlanFeatures.h"

#include <gtest/gtest.h>

using namespace veyra;
using namespace veyra::ui;

namespace {

Plan plan()
{
    Plan made;
    made.id = QStringLiteral("monthly");
    made.name = QStringLiteral("月度会员");
    return made;
}

TEST(PlanFeatures, DurationComesFirst)
{
    Plan lifetime = plan();
    lifetime.lifetime = true;
    lifetime.durationDays = 30;
    EXPECT_EQ(displayFeatures(lifetime).first(), QStringLiteral("长期有效"));

    Plan days = plan();
    days.durationDays = 90;
    EXPECT_EQ(displayFeatures(days).first(), QStringLiteral("90 天"));

    for (std::optional<qint64> unknown : { std::optional<qint64>(), std::optional<qint64>(0) }) {
        Plan vague = plan();
        vague.durationDays = unknown;
        vague.lifetime = false;
        EXPECT_EQ(displayFeatures(vague).first(), QStringLiteral("以套餐说明为准"));
    }
}

TEST(PlanFeatures, TrafficAndDevicesComeFromTheNumbersNotTheMarketingLines)
{
    Plan monthly = plan();
    monthly.durationDays = 30;
    monthly.trafficBytes = 200LL * 1024 * 1024 * 1024;
    monthly.deviceLimit = 3;
    monthly.features = QStringList { QStringLiteral("全部地区线路"), QStringLiteral("每月 150 gb 高速流量"),
        QStringLiteral("最多 5 台设备同时在线"), QStringLiteral("30 天"), QStringLiteral("全部地区线路") };
    EXPECT_EQ(displayFeatures(monthly),
        QStringList({ "30 天", "200 GB", "3 台设备", "全部地区线路" }));

    // Unlimited, no device count: an own "不限流量" is not repeated, nothing about devices.
    Plan yearly = plan();
    yearly.durationDays = 365;
    yearly.trafficBytes = 0;
    yearly.deviceLimit = 0;
    yearly.features = QStringList { QStringLiteral("不限流量"), QStringLiteral("优先客服") };
    EXPECT_EQ(displayFeatures(yearly), QStringList({ "365 天", "不限流量", "优先客服" }));

    Plan absent = plan();
    absent.lifetime = true;
    EXPECT_EQ(displayFeatures(absent), QStringList({ "长期有效", "不限流量" }));

    // Binary units with one decimal where needed.
    Plan odd = plan();
    odd.trafficBytes = 1536LL * 1024 * 1024;
    EXPECT_EQ(displayFeatures(odd).at(1), QStringLiteral("1.5 GB"));
}

TEST(PlanFeatures, PricesAndOrders)
{
    EXPECT_EQ(priceText(2500), QStringLiteral("¥25.00"));
    EXPECT_EQ(priceText(59801), QStringLiteral("¥598.01"));
    EXPECT_EQ(priceText(5), QStringLiteral("¥0.05"));

    PaymentOrder order;
    order.orderNo = QStringLiteral("VN-1");
    order.status = QStringLiteral("PAID");
    EXPECT_TRUE(order.isPaid());
    EXPECT_TRUE(order.isFinal());
    EXPECT_EQ(orderStatusText(order), QStringLiteral("已支付"));
    order.status = QStringLiteral("pending");
    EXPECT_FALSE(order.isFinal());
    EXPECT_EQ(orderStatusText(order), QStringLiteral("待支付"));
    order.status = QStringLiteral("Expired");
    EXPECT_TRUE(order.isFinal());
    EXPECT_FALSE(order.isPaid());
    EXPECT_EQ(orderStatusText(order), QStringLiteral("已过期"));

    EXPECT_EQ(orderPlanName(order), QStringLiteral("会员"));
    order.planName = QStringLiteral("季度会员");
    EXPECT_EQ(orderPlanName(order), QStringLiteral("季度会员"));
}

} // namespace
