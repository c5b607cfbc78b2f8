// Integers, traffic samples, provider usage, node lists and delays are the controller fuzz
// target's replayed inputs; the rules its model does not state are here.
#include "MihomoManager.h"
#include "NodeItem.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

namespace veyra {
namespace {

// The controller target asks about the first provider listed; another one is no answer.
TEST(ProviderUsage, IsReadForTheProviderAskedAbout)
{
    EXPECT_EQ(MihomoManager::parseProviderTrafficUsage(
                  R"({"providers":{"other":{"subscriptionInfo":{"upload":1}}}})", QStringLiteral("veyra_official")),
        std::nullopt);
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
