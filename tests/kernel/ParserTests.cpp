// Node lists and delays are the controller fuzz target's replayed inputs; the rules its few
// inputs do not reach are here.
#include "MihomoManager.h"
#include "NodeItem.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

namespace veyra {
namespace {

using json::Json;

struct IntegerCase {
    const char *name;
    Json value;
    std::optional<qint64> read;
};

TEST(ControllerIntegers, ReadNumbersStringsAndBooleansAndRefuseEverythingElse)
{
    const IntegerCase cases[] = {
        { "integer", Json(42), 42 },
        { "fraction cut towards zero", Json(4.9), 4 },
        { "negative fraction cut towards zero", Json(-4.9), -4 },
        { "true", Json(true), 1 },
        { "false", Json(false), 0 },
        { "text with sign and blanks", Json(" +42 "), 42 },
        { "negative text with line breaks", Json("\n-7\t"), -7 },
        { "smallest as text", Json("-9223372036854775808"), std::numeric_limits<qint64>::min() },
        { "largest as text", Json("9223372036854775807"), std::numeric_limits<qint64>::max() },
        { "fraction as text", Json("4.2"), std::nullopt },
        { "empty text", Json(""), std::nullopt },
        { "sign alone", Json("+"), std::nullopt },
        { "trailing letter", Json("12a"), std::nullopt },
        { "past the range as text", Json("9223372036854775808"), std::nullopt },
        { "past the range as number", Json(1e30), std::nullopt },
        { "unsigned past the range", Json(18446744073709551615ULL), std::nullopt },
        { "array", Json::array(), std::nullopt },
        { "null", Json(nullptr), std::nullopt },
    };
    for (const IntegerCase &c : cases)
        EXPECT_EQ(MihomoManager::integer(&c.value), c.read) << c.name;
    EXPECT_EQ(MihomoManager::integer(nullptr), std::nullopt) << "absent";
}

TEST(TrafficSamples, NeedBothRatesAsIntegers)
{
    const std::pair<const char *, std::optional<TrafficRateSample>> cases[] = {
        { R"({"up":10,"down":"20"})", TrafficRateSample { 10, 20 } },
        { R"({"up":-3,"down":0})", TrafficRateSample { -3, 0 } },
        { R"({"up":10})", std::nullopt },
        { R"({"up":10,"down":[1]})", std::nullopt },
        { "[10,20]", std::nullopt },
        { "not json", std::nullopt },
    };
    for (const auto &[message, sample] : cases)
        EXPECT_EQ(MihomoManager::parseTrafficSample(message), sample) << message;
}

QByteArray providersWith(const QByteArray &info, const QByteArray &key = "subscriptionInfo")
{
    return R"({"providers":{"veyra_official":{")" + key + R"(":)" + info + "}}}";
}

TEST(ProviderUsage, AddsUploadAndDownloadWhateverTheirCase)
{
    const auto usage = [](const QByteArray &data) {
        return MihomoManager::parseProviderTrafficUsage(data, QStringLiteral("veyra_official"));
    };
    EXPECT_EQ(usage(providersWith(R"({"Upload":10,"DOWNLOAD":"20"})")), 30);
    EXPECT_EQ(usage(providersWith(R"({"upload":-5})")), 0);
    EXPECT_EQ(usage(providersWith(R"({"download":7,"total":100})", "subscription-info")), 7);
    EXPECT_EQ(usage(providersWith(R"({})")), std::nullopt);
    // A "subscriptionInfo" that holds no object falls back to the other spelling.
    EXPECT_EQ(
        usage(R"({"providers":{"veyra_official":{"subscriptionInfo":null,"subscription-info":{"upload":3}}}})"), 3);
    EXPECT_EQ(usage(providersWith(R"("text")")), std::nullopt);
    EXPECT_EQ(usage(R"({"providers":{"other":{"subscriptionInfo":{"upload":1}}}})"), std::nullopt);
    EXPECT_EQ(usage(R"({"providers":[]})"), std::nullopt);
    EXPECT_EQ(usage("{"), std::nullopt);
    // Absurd values saturate instead of wrapping into a negative total.
    EXPECT_EQ(usage(providersWith(R"({"upload":9223372036854775807,"download":9223372036854775807})")),
        std::numeric_limits<qint64>::max());
}

TEST(NodeRegions, FirstMatchingRegionWins)
{
    // Japan comes before the United States in the table, so a name mentioning both is Japanese.
    const std::pair<const char *, std::pair<const char *, const char *>> cases[] = {
        { "香港 01", { "香港", "🇭🇰" } },
        { "Veyra TOKYO 3", { "日本", "🇯🇵" } },
        { "node-jp", { "其他地区", "🌐" } },
        { "Relay JP", { "日本", "🇯🇵" } },
        { "Los Angeles via Osaka", { "日本", "🇯🇵" } },
        { "伦敦 2", { "英国", "🇬🇧" } },
    };
    for (const auto &[name, region] : cases)
        EXPECT_EQ(MihomoManager::region(QString::fromUtf8(name)),
            std::pair(QString::fromUtf8(region.first), QString::fromUtf8(region.second)))
            << name;
}

// Slashes and non-ASCII are encoded, path characters kept; ";" would open path parameters.
TEST(ControllerPaths, EncodeSlashesAndNonAsciiButKeepPathCharacters)
{
    const std::pair<const char *, const char *> cases[] = { { "维拉网络", "%E7%BB%B4%E6%8B%89%E7%BD%91%E7%BB%9C" },
        { "a/b c", "a%2Fb%20c" }, { "a:b@c", "a:b@c" }, { "what?#", "what%3F%23" }, { "a;b=c", "a%3Bb=c" } };
    for (const auto &[name, path] : cases)
        EXPECT_EQ(MihomoManager::path(QString::fromUtf8(name)), QLatin1String(path)) << name;
}

TEST(NodeDelays, DisplayDelayAppliesThePreferenceAndNeverDropsBelowOne)
{
    const struct {
        const char *name;
        int delay;
        std::optional<int> shown;
    } cases[] = { { "香港 01", 120, 120 }, { " Veyra-AWS-Tokyo-01 ", 120, 70 }, { "日本东京01", 30, 1 },
        { "美国俄勒冈01", 150, 50 }, { "美国俄勒冈01", 0, std::nullopt }, { "x", -1, std::nullopt } };
    for (const auto &c : cases)
        EXPECT_EQ((NodeItem { QString::fromUtf8(c.name), {}, {}, c.delay, {} }).displayDelay(), c.shown)
            << c.name << " " << c.delay;
}

TEST(ControllerSecret, IsThirtyTwoLowercaseHexDigitsAndFreshPerManager)
{
    const MihomoManager first, second;
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(first.controllerSecret()).hasMatch())
        << first.controllerSecret().toStdString();
    EXPECT_NE(first.controllerSecret(), second.controllerSecret());
}

} // namespace
} // namespace veyra
