#include "Errors.h"
#include "Models.h"
#include "PendingOrderRecord.h"

#include <gtest/gtest.h>

using namespace veyra;
using json::Json;

TEST(Models, AccountWithOnlyANameHasNoMembershipOrLine)
{
    const AccountUser user = AccountUser::fromJson(Json::parse(R"({"account":"13800000000","extra":1})"));
    EXPECT_EQ(user.account, "13800000000");
    EXPECT_FALSE(user.membership);
    EXPECT_FALSE(user.subscriptionUrl);
    EXPECT_FALSE(user.subscriptionUrlToken);
    EXPECT_THROW(AccountUser::fromJson(Json::parse(R"({"account":5})")), SystemError);
    EXPECT_THROW(AccountUser::fromJson(Json::parse(R"(["account"])")), SystemError);
}

TEST(Models, TrafficCounterIsReadTolerantly)
{
    auto traffic = [](const char *text) { return Membership::fromJson(Json::parse(text)).trafficUsedBytes; };
    EXPECT_EQ(traffic(R"({"usedBytes":" \n 1024 \t"})"), 1024);
    EXPECT_EQ(traffic(R"({"trafficUsedBytes":"lots","usedBytes":5})"), 5);
    EXPECT_EQ(traffic(R"({"traffic_used_bytes":"+42","usedBytes":5})"), 42);
    EXPECT_EQ(traffic(R"({"trafficUsedBytes":"-3"})"), -3);
    EXPECT_EQ(traffic(R"({"trafficUsedBytes":1.5,"usedBytes":"0x10","usedTrafficBytes":7})"), 7);
    EXPECT_EQ(traffic(R"({"upload":100,"downloadBytes":-7})"), 100);
    EXPECT_EQ(traffic(R"({"uploadBytes":"10","upload":99,"download":"5"})"), 15);
    EXPECT_EQ(traffic(R"({"usedBytes":"1 024"})"), std::nullopt);
    EXPECT_EQ(traffic(R"({"active":true})"), std::nullopt);
}

TEST(Models, MembershipDefaultsAndStrictTypes)
{
    EXPECT_FALSE(Membership::fromJson(Json::object()).active);
    EXPECT_TRUE(Membership::fromJson(Json::parse(R"({"active":true,"deviceLimit":3})")).active);
    EXPECT_THROW(Membership::fromJson(Json::parse(R"({"active":"yes"})")), SystemError);
    EXPECT_THROW(Membership::fromJson(Json::parse(R"({"deviceLimit":"3"})")), SystemError);
}

TEST(Models, PlansAndOrdersFailOnMissingRequiredFields)
{
    const Plan plan = Plan::fromJson(Json::parse(R"({"id":"m","name":"月付","priceFen":1500,"features":["a","b"]})"));
    EXPECT_EQ(plan.priceFen, 1500);
    EXPECT_EQ(plan.features, QStringList({ "a", "b" }));
    EXPECT_THROW(Plan::fromJson(Json::parse(R"({"id":"m","name":"月付"})")), SystemError);
    EXPECT_THROW(
        Plan::listFromJson(Json::parse(R"([{"id":"a","name":"A","priceFen":1},{"id":"b","name":"B"}])")), SystemError);
    EXPECT_THROW(Plan::fromJson(Json::parse(R"({"id":"m","name":"x","priceFen":1,"features":[1]})")), SystemError);

    EXPECT_THROW(PaymentOrder::fromJson(Json::parse(R"({"orderNo":"1","method":"alipay"})")), SystemError);
    const PaymentOrder order = PaymentOrder::fromJson(
        Json::parse(R"({"orderNo":"1","method":"wechat","status":"pending","amountFen":null})"));
    EXPECT_EQ(order.status, "pending");
    EXPECT_FALSE(order.amountFen);
}

TEST(Models, WholeNumbersWrittenAsFloatsAreIntegersFractionsAreNot)
{
    auto price = [](const char *value) {
        return Plan::fromJson(Json::parse(std::string(R"({"id":"m","name":"x","priceFen":)") + value + "}")).priceFen;
    };
    EXPECT_EQ(price("1024.0"), 1024);
    EXPECT_EQ(price("1.5e3"), 1500);
    EXPECT_EQ(price("-0.0"), 0);
    EXPECT_THROW(price("1024.5"), SystemError);
    EXPECT_THROW(price("9.3e18"), SystemError);
    EXPECT_THROW(price("\"1024\""), SystemError);

    // One such value no longer fails a whole plan list.
    const auto plans = Plan::listFromJson(
        Json::parse(R"([{"id":"a","name":"A","priceFen":100.0,"sortOrder":2.0},{"id":"b","name":"B","priceFen":9}])"));
    ASSERT_EQ(plans.size(), 2);
    EXPECT_EQ(plans[0].sortOrder, 2);

    auto traffic = [](const char *text) { return Membership::fromJson(Json::parse(text)).trafficUsedBytes; };
    EXPECT_EQ(traffic(R"({"trafficUsedBytes":2048.0})"), 2048);
    EXPECT_EQ(traffic(R"({"trafficUsedBytes":1.5,"usedBytes":3.0})"), 3);
}

TEST(Models, AuthResultNeedsAToken)
{
    const AuthResult result = AuthResult::fromJson(Json::parse(R"({"token":"t","user":{"account":"a"}})"));
    ASSERT_TRUE(result.user);
    EXPECT_EQ(result.user->account, "a");
    EXPECT_THROW(AuthResult::fromJson(Json::parse(R"({"user":{"account":"a"}})")), SystemError);
}

TEST(Models, PendingOrderRecordRoundTrips)
{
    const PendingOrderRecord record { "A/1 2", QDateTime(QDate(2026, 12, 5), QTime(9, 30, 0), Qt::UTC) };
    const Json encoded = record.toJson();
    EXPECT_EQ(encoded.at("createdAt"), "2026-12-05T09:30:00Z");
    EXPECT_EQ(PendingOrderRecord::fromJson(encoded), record);
    EXPECT_THROW(PendingOrderRecord::fromJson(Json::parse(R"({"orderNo":"1","createdAt":"yesterday"})")), SystemError);
}
