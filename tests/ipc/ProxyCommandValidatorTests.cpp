#include "veyra/ipc/ProxyCommandValidator.h"
#include "veyra/ipc/ProxyHelperErrors.h"

#include <gtest/gtest.h>

#include <optional>

using namespace veyra::ipc;

namespace {

const std::string tool = "/usr/sbin/networksetup";

// The validator's message, or nothing when the commands pass.
std::optional<std::string> refusal(const CommandList &commands)
{
    try {
        ProxyCommandValidator::validate(commands);
        return std::nullopt;
    } catch (const ProxyHelperValidationError &error) {
        EXPECT_STREQ(error.what(), error.message().c_str());
        return error.message();
    }
}

std::optional<std::string> refusal(const CommandLine &line)
{
    return refusal(CommandList { line });
}

CommandLine stateLine(std::string value)
{
    return { tool, "-setwebproxystate", "Wi-Fi", std::move(value) };
}

CommandLine portLine(std::string port)
{
    return { tool, "-setwebproxy", "Wi-Fi", "127.0.0.1", std::move(port) };
}

const std::string countMessage = "代理命令数量无效。";
const std::string unknownCommand = "后台服务拒绝了未知的系统命令。";
const std::string badCharacters = "代理命令包含无效字符。";
const std::string badState = "代理开关命令格式无效。";
const std::string badEndpoint = "代理地址命令格式无效。";
const std::string badBypass = "代理绕过域名命令格式无效。";
const std::string badAutoProxy = "自动代理地址命令格式无效。";
const std::string forbiddenVerb = "后台服务拒绝了不允许的代理操作。";

} // namespace

TEST(ProxyCommandValidator, CountsBetweenOneAndOneHundredTwentyEight)
{
    EXPECT_EQ(refusal(CommandList {}), countMessage);
    EXPECT_EQ(refusal(CommandList(128, stateLine("on"))), std::nullopt);
    EXPECT_EQ(refusal(CommandList(129, stateLine("on"))), countMessage);
}

TEST(ProxyCommandValidator, ShapeAndProgramPathComeBeforeTheVerb)
{
    EXPECT_EQ(refusal(CommandLine { tool, "-setwebproxy" }), unknownCommand);
    EXPECT_EQ(refusal(CommandLine { "networksetup", "-setwebproxystate", "Wi-Fi", "on" }), unknownCommand);
    EXPECT_EQ(refusal(CommandLine { "/usr/sbin/networksetup ", "-setwebproxystate", "Wi-Fi", "on" }), unknownCommand);

    CommandLine longest { tool, "-setproxybypassdomains", "Wi-Fi" };
    longest.resize(132, "example.com");
    EXPECT_EQ(refusal(longest), std::nullopt);
    longest.push_back("one.too.many");
    EXPECT_EQ(refusal(longest), unknownCommand);
}

TEST(ProxyCommandValidator, ElementsMustBeShortAndFreeOfLineBreaksAndNul)
{
    EXPECT_EQ(refusal(CommandLine { tool, "-setwebproxystate", "Wi\nFi", "on" }), badCharacters);
    EXPECT_EQ(refusal(CommandLine { tool, "-setwebproxystate", "Wi\rFi", "on" }), badCharacters);
    EXPECT_EQ(refusal(CommandLine { tool, "-setwebproxystate", std::string("Wi\0Fi", 5), "on" }), badCharacters);
    EXPECT_EQ(refusal(CommandLine { tool, "", "Wi-Fi", "on" }), badCharacters);
    // The character check also covers the verb of a line whose verb is not allowed.
    EXPECT_EQ(refusal(CommandLine { tool, "-getwebproxy\n", "Wi-Fi" }), badCharacters);

    EXPECT_EQ(refusal(CommandLine { tool, "-setwebproxystate", std::string(1024, 'a'), "on" }), std::nullopt);
    EXPECT_EQ(refusal(CommandLine { tool, "-setwebproxystate", std::string(1025, 'a'), "on" }), badCharacters);

    std::string chinese;
    for (int i = 0; i < 342; ++i)
        chinese += "网";
    ASSERT_EQ(chinese.size(), 1026u);
    EXPECT_EQ(refusal(CommandLine { tool, "-setwebproxystate", chinese, "on" }), badCharacters);
}

TEST(ProxyCommandValidator, StateCommandsTakeOnOrOffInAnyCase)
{
    EXPECT_EQ(refusal(stateLine("ON")), std::nullopt);
    EXPECT_EQ(refusal(stateLine("Off")), std::nullopt);
    EXPECT_EQ(refusal(stateLine("enable")), badState);
    EXPECT_EQ(refusal(CommandLine { tool, "-setsocksfirewallproxystate", "Wi-Fi" }), badState);
    EXPECT_EQ(refusal(CommandLine { tool, "-setautoproxystate", "Wi-Fi", "on", "extra" }), badState);
    for (const char *verb : { "-setautoproxystate", "-setproxyautodiscovery", "-setwebproxystate",
             "-setsecurewebproxystate", "-setsocksfirewallproxystate" })
        EXPECT_EQ(refusal(CommandLine { tool, verb, "Ethernet", "off" }), std::nullopt) << verb;
}

TEST(ProxyCommandValidator, EndpointPortsAreDecimalBetweenOneAnd65535)
{
    EXPECT_EQ(refusal(portLine("+8080")), std::nullopt);
    EXPECT_EQ(refusal(portLine("65535")), std::nullopt);
    EXPECT_EQ(refusal(portLine("1")), std::nullopt);
    EXPECT_EQ(refusal(portLine("0")), badEndpoint);
    EXPECT_EQ(refusal(portLine("65536")), badEndpoint);
    EXPECT_EQ(refusal(portLine("-1")), badEndpoint);
    EXPECT_EQ(refusal(portLine("80a")), badEndpoint);
    EXPECT_EQ(refusal(portLine("+")), badEndpoint);
    EXPECT_EQ(refusal(portLine(" 80")), badEndpoint);
    EXPECT_EQ(refusal(portLine("99999999999999999999999")), badEndpoint);
    EXPECT_EQ(refusal(portLine("")), badCharacters);
    EXPECT_EQ(refusal(CommandLine { tool, "-setsecurewebproxy", "Wi-Fi", "127.0.0.1" }), badEndpoint);
    // The host gets no check beyond the character rules.
    EXPECT_EQ(
        refusal(CommandLine { tool, "-setsocksfirewallproxy", "Wi-Fi", "any host at all", "1080" }), std::nullopt);
}

TEST(ProxyCommandValidator, BypassNeedsADomainAndAutoProxyUrlExactlyOneArgument)
{
    EXPECT_EQ(refusal(CommandLine { tool, "-setproxybypassdomains", "Wi-Fi" }), badBypass);
    EXPECT_EQ(refusal(CommandLine { tool, "-setproxybypassdomains", "Wi-Fi", "Empty" }), std::nullopt);
    EXPECT_EQ(refusal(CommandLine { tool, "-setautoproxyurl", "Wi-Fi" }), badAutoProxy);
    EXPECT_EQ(refusal(CommandLine { tool, "-setautoproxyurl", "Wi-Fi", "http://pac/x.pac" }), std::nullopt);
    EXPECT_EQ(refusal(CommandLine { tool, "-setautoproxyurl", "Wi-Fi", "http://a", "http://b" }), badAutoProxy);
}

TEST(ProxyCommandValidator, EveryOtherVerbIsRefusedExactly)
{
    EXPECT_EQ(refusal(CommandLine { tool, "-getwebproxy", "Wi-Fi" }), forbiddenVerb);
    EXPECT_EQ(refusal(CommandLine { tool, "-SetWebProxyState", "Wi-Fi", "on" }), forbiddenVerb);
    EXPECT_EQ(refusal(CommandLine { tool, "-setdnsservers", "Wi-Fi", "1.1.1.1" }), forbiddenVerb);
}

TEST(ProxyCommandValidator, FirstFailingLineDecidesAndLaterLinesAreChecked)
{
    EXPECT_EQ(refusal(CommandList { stateLine("on"), portLine("0"), stateLine("enable") }), badEndpoint);
    EXPECT_EQ(refusal(CommandList { stateLine("on"), stateLine("on"), { tool, "-getinfo", "Wi-Fi" } }), forbiddenVerb);
}
