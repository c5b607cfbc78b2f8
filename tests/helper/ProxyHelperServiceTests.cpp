#include "HelperTestSupport.h"
#include "ProxyHelperService.h"

#include "veyra/ipc/ProxyHelperRecords.h"

using namespace veyra::helper;
using namespace veyra::helper::test;
using veyra::ipc::ProxyHelperResponse;

namespace {

class ProxyHelperServiceTest : public ::testing::Test {
protected:
    ProxyHelperResponse execute(const std::string &request) const
    {
        return ProxyHelperResponse::decode(service.execute(request));
    }
    ProxyHelperResponse execute(const std::vector<std::vector<std::string>> &commands) const
    {
        return execute(requestJson(commands));
    }

    TempDir dir;
    StandInState state { dir.path() };
    ProxyHelperService service { VEYRA_NETWORKSETUP_EXECUTABLE };
};

using Lines = std::vector<std::vector<std::string>>;

const std::vector<std::string> webOn = { tool, "-setwebproxystate", "Wi-Fi", "on" };
const std::vector<std::string> socksOn = { tool, "-setsocksfirewallproxystate", "Wi-Fi", "on" };
const std::vector<std::string> secureOn = { tool, "-setsecurewebproxystate", "Wi-Fi", "on" };

} // namespace

TEST_F(ProxyHelperServiceTest, RunsEveryLineInOrderAndReportsSuccess)
{
    ProxyHelperResponse reply = execute(Lines { { tool, "-setwebproxy", "Wi-Fi", "127.0.0.1", "7890" },
        { tool, "-setproxybypassdomains", "Wi-Fi", "localhost", "*.local" },
        { tool, "-setwebproxystate", "Wi-Fi", "off" } });
    EXPECT_TRUE(reply.success);
    EXPECT_EQ(reply.message, "系统代理设置已更新。");
    const auto history = state.history();
    ASSERT_EQ(history.size(), 3u);
    EXPECT_EQ(history[0][0], "-setwebproxy");
    EXPECT_EQ(history[2][0], "-setwebproxystate");
    const auto wifi = state.service("Wi-Fi");
    EXPECT_EQ(wifi["web"]["server"], "127.0.0.1");
    EXPECT_EQ(wifi["web"]["enabled"], false);
}

TEST_F(ProxyHelperServiceTest, SizeLimitIsInclusiveAndOversizedRequestsAreNotDecoded)
{
    std::string exact = requestJson(Lines { webOn });
    exact.insert(exact.size() - 1, std::string(131072 - exact.size(), ' '));
    ASSERT_EQ(exact.size(), 131072u);
    EXPECT_TRUE(execute(exact).success);

    // One byte more is refused even though it would decode.
    std::string over = exact;
    over.insert(over.size() - 1, " ");
    ProxyHelperResponse reply = execute(over);
    EXPECT_FALSE(reply.success);
    EXPECT_EQ(reply.message, "后台服务请求超过大小限制。");
    EXPECT_EQ(state.history().size(), 1u);
}

TEST_F(ProxyHelperServiceTest, ValidatesEveryLineBeforeRunningAny)
{
    ProxyHelperResponse reply = execute(Lines { webOn, { tool, "-getwebproxy", "Wi-Fi" } });
    EXPECT_FALSE(reply.success);
    EXPECT_EQ(reply.message, "后台服务拒绝了不允许的代理操作。");
    EXPECT_TRUE(state.history().empty());
}

TEST_F(ProxyHelperServiceTest, SilentFailureOfTheSecondLineStopsBeforeTheThird)
{
    state.failOn("-setsocksfirewallproxystate", 4);
    ProxyHelperResponse reply = execute(Lines { webOn, socksOn, secureOn });
    EXPECT_FALSE(reply.success);
    EXPECT_EQ(reply.message, "系统代理设置失败。");
    const auto history = state.history();
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0][0], "-setwebproxystate");
    EXPECT_EQ(state.service("Wi-Fi")["secureWeb"]["enabled"], false);
}

TEST_F(ProxyHelperServiceTest, FailureMessageIsTrimmedErrorOutputThenOutputThenGeneric)
{
    state.failOn("-setwebproxystate", 1, "\n  Wi-Fi is busy. \n", "ignored");
    EXPECT_EQ(execute(Lines { webOn }).message, "Wi-Fi is busy.");

    TempDir other;
    StandInState blank(other.path());
    blank.failOn("-setwebproxystate", 1, " \n\n ", "  from output\n");
    EXPECT_EQ(execute(Lines { webOn }).message, "from output");

    TempDir third;
    StandInState empty(third.path());
    empty.failOn("-setwebproxystate", 1, " \n", "\n\t");
    EXPECT_EQ(execute(Lines { webOn }).message, "系统代理设置失败。");
}

TEST_F(ProxyHelperServiceTest, LargeOutputFromTheToolCannotDeadlockTheHelper)
{
    // Far more than a pipe buffer on both streams; the helper must read while the tool runs.
    state.failOn("-setwebproxystate", 2, std::string(600'000, 'e') + "!", std::string(600'000, 'o'));
    ProxyHelperResponse reply = execute(Lines { webOn });
    EXPECT_FALSE(reply.success);
    EXPECT_EQ(reply.message.size(), 65'536u);
    EXPECT_EQ(reply.message.front(), 'e');
}

TEST_F(ProxyHelperServiceTest, DecodingAndLaunchErrorsBecomeFailureReplies)
{
    ProxyHelperResponse notJson = execute(std::string("{\"commands\":"));
    EXPECT_FALSE(notJson.success);
    EXPECT_FALSE(notJson.message.empty());

    ProxyHelperResponse missingKey = execute(std::string("{\"lines\":[]}"));
    EXPECT_FALSE(missingKey.success);
    EXPECT_NE(missingKey.message.find("commands"), std::string::npos);

    ProxyHelperService missingTool(dir.path() / "no-such-tool");
    ProxyHelperResponse launch = ProxyHelperResponse::decode(missingTool.execute(requestJson(Lines { webOn })));
    EXPECT_FALSE(launch.success);
    EXPECT_NE(launch.message.find("no-such-tool"), std::string::npos);
}

TEST_F(ProxyHelperServiceTest, UnencodableReplyFallsBackToFixedBytes)
{
    // The decoder's description quotes the offending byte, which is not valid UTF-8.
    EXPECT_EQ(service.execute("{\"commands\":\"\xff\"}"), ProxyHelperResponse::fallbackBytes);
}

TEST_F(ProxyHelperServiceTest, ToolPathComesFromTheServiceNotTheRequest)
{
    // The first element is only checked against the constant; what runs is the service's tool.
    if (fs::exists(tool))
        GTEST_SKIP() << tool << " exists here, so the test could not tell the two apart";
    EXPECT_TRUE(execute(Lines { webOn }).success);
    EXPECT_EQ(state.history().size(), 1u);
}

TEST(ToolText, RepairAndTrim)
{
    EXPECT_EQ(repairUtf8("ok 网"), "ok 网");
    EXPECT_EQ(repairUtf8("\xE7\xBD"), "\xEF\xBF\xBD");
    EXPECT_EQ(repairUtf8("\xED\xA0\x80x"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDx");
    EXPECT_EQ(trimmed(" \t\r\n a b \n"), "a b");
    EXPECT_EQ(trimmed(" \n"), "");
}
