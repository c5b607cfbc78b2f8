#include "AppPaths.h"
#include "TestSupport.h"
#include "TrafficUsageStore.h"

using namespace veyra;
using veyra::test::readBytes;
using veyra::test::writeBytes;

namespace {

constexpr qint64 MB = 1024 * 1024;
constexpr qint64 GB = 1024 * MB;

using TrafficUsageStoreTest = veyra::test::DataFolderTest;

void save(const TrafficUsageIdentity &identity, qint64 used)
{
    AppPaths::write(
        TrafficUsageRecord { identity, used, QDateTime::currentDateTimeUtc() }.toJson(), AppPaths::trafficUsage());
}

} // namespace

TEST_F(TrafficUsageStoreTest, CountsBelongToOneAccountPlanAndPeriodAndDamageGivesNothing)
{
    const TrafficUsageIdentity a { "alice", "monthly", "2026-12-31T00:00:00Z" };
    save(a, 5000);
    EXPECT_EQ(TrafficUsageStore::load(a), 5000);
    for (const TrafficUsageIdentity &other : { TrafficUsageIdentity { "bob", "monthly", "2026-12-31T00:00:00Z" },
             TrafficUsageIdentity { "alice", "yearly", "2026-12-31T00:00:00Z" },
             TrafficUsageIdentity { "alice", "monthly", std::nullopt } })
        EXPECT_EQ(TrafficUsageStore::load(other), std::nullopt) << other.account.toStdString();
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

// The summary as the model shows it is the model's tests'; these are its pieces and their edges.
TEST(TrafficUsageSummary, Texts)
{
    for (const auto &[bytes, text] : { std::pair { 0LL, "0 B" }, { 1023LL, "1023 B" }, { 1536LL, "1.5 KB" },
             { GB + GB / 2, "1.5 GB" }, { 2 * GB, "2 GB" }, { MB - 1, "1 MB" } })
        EXPECT_EQ(formatBytes(bytes), text) << bytes;

    // 2.5 % rounds away from zero.
    for (const auto &[used, quota, text] : { std::tuple { 5 * MB, GB, "<1%" }, { 0LL, GB, "0%" },
             { GB + GB / 5, GB, "100%" }, { 25LL, 1000LL, "3%" }, { 10LL, 1000LL, "1%" } })
        EXPECT_EQ((TrafficUsageSummary { used, quota, true }).percentageText(), text) << used << "/" << quota;
    EXPECT_EQ((TrafficUsageSummary { GB / 2, 0, true }).percentageText(), std::nullopt);

    EXPECT_EQ((TrafficUsageSummary { GB + GB / 5, GB, true }).remainingText(), "0 B");
    EXPECT_EQ((TrafficUsageSummary { GB / 2, GB, false }).remainingText(), "512 MB");
    EXPECT_EQ((TrafficUsageSummary { std::nullopt, GB, true }).remainingText(), std::nullopt);

    EXPECT_EQ((TrafficUsageSummary { std::nullopt, GB, false }).quotaText(), "套餐额度同步中");
    EXPECT_EQ((TrafficUsageSummary { std::nullopt, std::nullopt, true }).quotaText(), "不限流量");
    EXPECT_EQ((TrafficUsageSummary { std::nullopt, 100 * GB, true }).quotaText(), "总计 100 GB");
    EXPECT_EQ((TrafficUsageSummary { 2 * GB, 0, true }).summaryText(), "已用 2 GB · 不限流量");
    EXPECT_EQ((TrafficUsageSummary { -5, 10 * GB, true }).summaryText(), "已用 0 B / 10 GB");
}
