#include "AppPaths.h"
#include "TestSupport.h"
#include "TrafficUsageStore.h"

using namespace veyra;
using veyra::test::readBytes;
using veyra::test::writeBytes;

namespace {

constexpr qint64 MB = 1024 * 1024;
constexpr qint64 GB = 1024 * MB;

class TrafficUsageStoreTest : public veyra::test::DataFolderTest {
protected:
    void save(const TrafficUsageIdentity &identity, qint64 used)
    {
        AppPaths::write(
            TrafficUsageRecord { identity, used, QDateTime::currentDateTimeUtc() }.toJson(), AppPaths::trafficUsage());
    }
};

} // namespace

TEST_F(TrafficUsageStoreTest, CountsBelongToOneAccountPlanAndPeriodAndDamageGivesNothing)
{
    const TrafficUsageIdentity a { "alice", "monthly", "2026-12-31T00:00:00Z" };
    save(a, 5000);
    EXPECT_EQ(TrafficUsageStore::load(a), 5000);
    EXPECT_EQ(TrafficUsageStore::load({ "bob", "monthly", "2026-12-31T00:00:00Z" }), std::nullopt);
    EXPECT_EQ(TrafficUsageStore::load({ "alice", "yearly", "2026-12-31T00:00:00Z" }), std::nullopt);
    EXPECT_EQ(TrafficUsageStore::load({ "alice", "monthly", std::nullopt }), std::nullopt);
    save(a, -20);
    EXPECT_EQ(TrafficUsageStore::load(a), 0);

    // Absent plan and expiry are left out of the file and read back equal.
    const TrafficUsageIdentity bare { "alice", std::nullopt, std::nullopt };
    save(bare, 7);
    EXPECT_FALSE(readBytes(AppPaths::trafficUsage()).contains("planID"));
    EXPECT_FALSE(readBytes(AppPaths::trafficUsage()).contains("expiresAt"));
    EXPECT_EQ(TrafficUsageStore::load(bare), 7);

    for (const QByteArray &damaged :
        { QByteArray(R"({"identity":{"account":"alice"},"usedBytes":"12","updatedAt":"2026-12-05T09:30:00Z"})"),
            QByteArray(R"({"identity":{"account":"alice"},"usedBytes":12})"), QByteArray(8193, ' ') }) {
        writeBytes(AppPaths::trafficUsage(), damaged);
        EXPECT_EQ(TrafficUsageStore::load(bare), std::nullopt) << damaged.left(40).toStdString();
    }
}

TEST(TrafficUsageSummary, Texts)
{
    EXPECT_EQ(formatBytes(0), "0 B");
    EXPECT_EQ(formatBytes(1023), "1023 B");
    EXPECT_EQ(formatBytes(1536), "1.5 KB");
    EXPECT_EQ(formatBytes(GB + GB / 2), "1.5 GB");
    EXPECT_EQ(formatBytes(2 * GB), "2 GB");
    EXPECT_EQ(formatBytes(1024 * 1024 - 1), "1 MB");

    EXPECT_EQ((TrafficUsageSummary { 5 * MB, GB, true }).percentageText(), "<1%");
    EXPECT_EQ((TrafficUsageSummary { 0, GB, true }).percentageText(), "0%");
    EXPECT_EQ((TrafficUsageSummary { GB + GB / 5, GB, true }).percentageText(), "100%");
    EXPECT_EQ((TrafficUsageSummary { 25, 1000, true }).percentageText(), "3%"); // 2.5% rounds away from zero
    EXPECT_EQ((TrafficUsageSummary { 10, 1000, true }).percentageText(), "1%");
    EXPECT_EQ((TrafficUsageSummary { GB / 2, 0, true }).percentageText(), std::nullopt);

    EXPECT_EQ((TrafficUsageSummary { GB + GB / 5, GB, true }).remainingText(), "0 B");
    EXPECT_EQ((TrafficUsageSummary { GB / 2, GB, false }).remainingText(), "512 MB");
    EXPECT_EQ((TrafficUsageSummary { std::nullopt, GB, true }).remainingText(), std::nullopt);

    EXPECT_EQ((TrafficUsageSummary { std::nullopt, GB, false }).quotaText(), "套餐额度同步中");
    EXPECT_EQ((TrafficUsageSummary { std::nullopt, std::nullopt, true }).quotaText(), "不限流量");
    EXPECT_EQ((TrafficUsageSummary { std::nullopt, 100 * GB, true }).quotaText(), "总计 100 GB");

    EXPECT_EQ((TrafficUsageSummary { std::nullopt, GB, true }).summaryText(), "尚无流量数据");
    EXPECT_EQ((TrafficUsageSummary { 2 * GB, std::nullopt, false }).summaryText(), "已用 2 GB · 套餐额度同步中");
    EXPECT_EQ((TrafficUsageSummary { 2 * GB, 0, true }).summaryText(), "已用 2 GB · 不限流量");
    EXPECT_EQ((TrafficUsageSummary { -5, 10 * GB, true }).summaryText(), "已用 0 B / 10 GB");
}
