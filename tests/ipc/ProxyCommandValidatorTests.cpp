#include "veyra/ipc/ProxyCommandValidator.h"
#include "veyra/ipc/ProxyHelperErrors.h"

#include <gtest/gtest.h>

using namespace veyra::ipc;

namespace {

const std::string tool = "/usr/sbin/networksetup";

// The validator's message, or "" when the commands pass.
std::string refusal(const CommandList &commands)
{
    try {
        ProxyCommandValidator::validate(commands);
        return "";
    } catch (const ProxyHelperValidationError &error) {
        EXPECT_STREQ(error.what(), error.message().c_str());
        return error.message();
    }
}

std::string repeat(const std::string &unit, int times)
{
    std::string text;
    while (times-- > 0)
        text += unit;
    return text;
}

} // namespace

TEST(ProxyCommandValidator, GrammarBoundaries)
{
    const std::string badChars = "代理命令包含无效字符。", badState = "代理开关命令格式无效。",
                      badEndpoint = "代理地址命令格式无效。", unknown = "后台服务拒绝了未知的系统命令。";
    CommandLine longest { tool, "-setproxybypassdomains", "Wi-Fi" };
    longest.resize(132, "example.com");
    CommandLine tooLong = longest;
    tooLong.push_back("x");

    const std::vector<std::pair<CommandLine, std::string>> cases = {
        { { tool, "-setwebproxy" }, unknown },
        { { "networksetup", "-setwebproxystate", "Wi-Fi", "on" }, unknown },
        { longest, "" },
        { tooLong, unknown },
        { { tool, "-setwebproxystate", "Wi\nFi", "on" }, badChars },
        { { tool, "-setwebproxystate", "Wi\rFi", "on" }, badChars },
        { { tool, "-setwebproxystate", std::string("Wi\0Fi", 5), "on" }, badChars },
        { { tool, "-getwebproxy\n", "Wi-Fi" }, badChars },
        { { tool, "-setwebproxystate", std::string(1024, 'a'), "on" }, "" },
        { { tool, "-setwebproxystate", std::string(1025, 'a'), "on" }, badChars },
        { { tool, "-setwebproxystate", repeat("网", 342), "on" }, badChars }, // 1,026 bytes
        { { tool, "-setwebproxystate", "Wi-Fi", "ON" }, "" },
        { { tool, "-setproxyautodiscovery", "Wi-Fi", "Off" }, "" },
        { { tool, "-setwebproxystate", "Wi-Fi", "enable" }, badState },
        { { tool, "-setautoproxystate", "Wi-Fi", "on", "x" }, badState },
        { { tool, "-setwebproxy", "Wi-Fi", "127.0.0.1", "+8080" }, badEndpoint },
        { { tool, "-setsecurewebproxy", "Wi-Fi", "any host", "65535" }, "" },
        { { tool, "-setsocksfirewallproxy", "Wi-Fi", "h", "1" }, "" },
        { { tool, "-setwebproxy", "Wi-Fi", "h", "0" }, badEndpoint },
        { { tool, "-setwebproxy", "Wi-Fi", "h", "65536" }, badEndpoint },
        { { tool, "-setwebproxy", "Wi-Fi", "h", "-1" }, badEndpoint },
        { { tool, "-setwebproxy", "Wi-Fi", "h", "80a" }, badEndpoint },
        { { tool, "-setwebproxy", "Wi-Fi", "h", "99999999999999999999999" }, badEndpoint },
        { { tool, "-setwebproxy", "Wi-Fi", "h", "" }, badChars },
        { { tool, "-setwebproxy", "Wi-Fi", "h" }, badEndpoint },
        { { tool, "-setproxybypassdomains", "Wi-Fi" }, "代理绕过域名命令格式无效。" },
        { { tool, "-setproxybypassdomains", "Wi-Fi", "Empty" }, "" },
        { { tool, "-setautoproxyurl", "Wi-Fi" }, "自动代理地址命令格式无效。" },
        { { tool, "-setautoproxyurl", "Wi-Fi", "http://pac/p.pac" }, "" },
        { { tool, "-getwebproxy", "Wi-Fi" }, "后台服务拒绝了不允许的代理操作。" },
        { { tool, "-SetWebProxyState", "Wi-Fi", "on" }, "后台服务拒绝了不允许的代理操作。" },
    };
    for (const auto &[line, expected] : cases)
        EXPECT_EQ(refusal({ line }), expected) << line[1] << " / " << line.size() << " elements";
}

TEST(ProxyCommandValidator, CountsAndTheFirstFailingLine)
{
    const CommandLine on { tool, "-setwebproxystate", "Wi-Fi", "on" };
    EXPECT_EQ(refusal({}), "代理命令数量无效。");
    EXPECT_EQ(refusal(CommandList(128, on)), "");
    EXPECT_EQ(refusal(CommandList(129, on)), "代理命令数量无效。");
    EXPECT_EQ(
        refusal({ on, { tool, "-setwebproxy", "W", "h", "0" }, { tool, "-getinfo", "W" } }), "代理地址命令格式无效。");
}
