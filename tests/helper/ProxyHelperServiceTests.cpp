#include "HelperTestSupport.h"
#include "ProxyHelperService.h"

#include "veyra/ipc/ProxyHelperRecords.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace veyra::helper;
using namespace veyra::helper::test;
using veyra::ipc::ProxyHelperResponse;
using Lines = std::vector<std::vector<std::string>>;

namespace {

class ProxyHelperServiceTest : public ::testing::Test {
protected:
    ProxyHelperResponse execute(const std::string &request) const
    {
        return ProxyHelperResponse::decode(service.execute(request));
    }
    ProxyHelperResponse execute(const Lines &commands) const { return execute(requestJson(commands)); }

    TempDir dir;
    StandInState state { dir.path() };
    ProxyHelperService service { VEYRA_NETWORKSETUP_EXECUTABLE, state.toolEnvironment() };
};

const std::vector<std::string> webOn = { tool, "-setwebproxystate", "Wi-Fi", "on" };
const std::vector<std::string> socksOn = { tool, "-setsocksfirewallproxystate", "Wi-Fi", "on" };
const std::vector<std::string> secureOn = { tool, "-setsecurewebproxystate", "Wi-Fi", "on" };

} // namespace

TEST_F(ProxyHelperServiceTest, RunsTheLinesInOrderWithItsOwnTool)
{
    ProxyHelperResponse reply = execute(Lines { { tool, "-setwebproxy", "Wi-Fi", "127.0.0.1", "7890" }, webOn });
    EXPECT_TRUE(reply.success);
    EXPECT_EQ(reply.message, "系统代理设置已更新。");
    EXPECT_EQ(state.history(),
        (Lines { { "-setwebproxy", "Wi-Fi", "127.0.0.1", "7890" }, { webOn.begin() + 1, webOn.end() } }));
}

TEST_F(ProxyHelperServiceTest, SizeLimitIsInclusiveAndValidationPrecedesAnyRun)
{
    std::string exact = requestJson(Lines { webOn });
    exact.insert(exact.size() - 1, std::string(131072 - exact.size(), ' '));
    EXPECT_TRUE(execute(exact).success);
    exact.insert(exact.size() - 1, " ");
    EXPECT_EQ(execute(exact).message, "后台服务请求超过大小限制。");

    EXPECT_EQ(execute(Lines { webOn, { tool, "-getwebproxy", "Wi-Fi" } }).message, "后台服务拒绝了不允许的代理操作。");
    EXPECT_EQ(state.history().size(), 1u) << "only the first, exact-size request ran";
}

TEST_F(ProxyHelperServiceTest, SilentFailureOfTheSecondLineStopsBeforeTheThird)
{
    state.failOn("-setsocksfirewallproxystate", 4);
    ProxyHelperResponse reply = execute(Lines { webOn, socksOn, secureOn });
    EXPECT_FALSE(reply.success);
    EXPECT_EQ(reply.message, "系统代理设置失败。");
    EXPECT_EQ(state.history(), (Lines { { webOn.begin() + 1, webOn.end() } }));
}

TEST_F(ProxyHelperServiceTest, FailureTextIsTrimmedErrorOutputElseOutputElseGeneric)
{
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        { "\n  Wi-Fi is busy. \n", "ignored", "Wi-Fi is busy." },
        { " \n\n ", "  from output\n", "from output" },
        { " \n", "\n\t", "系统代理设置失败。" },
    };
    for (const auto &[standardError, standardOutput, expected] : cases) {
        TempDir other;
        StandInState failing(other.path());
        failing.failOn("-setwebproxystate", 1, standardError, standardOutput);
        const ProxyHelperService failingService(VEYRA_NETWORKSETUP_EXECUTABLE, failing.toolEnvironment());
        EXPECT_EQ(ProxyHelperResponse::decode(failingService.execute(requestJson(Lines { webOn }))).message, expected);
    }
    EXPECT_EQ(repairUtf8("ok \xC3 网"), "ok \xEF\xBF\xBD 网");
}

TEST_F(ProxyHelperServiceTest, LargeToolOutputCannotDeadlockTheHelper)
{
    // Far more than a pipe holds, on both streams: the helper must read while the tool runs.
    state.failOn("-setwebproxystate", 2, std::string(600'000, 'e'), std::string(600'000, 'o'));
    ProxyHelperResponse reply = execute(Lines { webOn });
    EXPECT_EQ(reply.message, std::string(65'536, 'e'));
}

TEST(ToolRunner, AToolPastItsTimeLimitIsKilled)
{
    using namespace std::chrono;
    // One that keeps its streams open, and one that closes them first and then hangs in a
    // child of its own, which must not outlive it.
    for (const char *script : { "echo started; exec sleep 30", "exec >&- 2>&-; sleep 31.5; true" }) {
        const auto begin = steady_clock::now();
        const ToolOutcome outcome
            = runTool("/bin/sh", { "-c", script }, minimalToolEnvironment(), 1024, milliseconds(300));
        EXPECT_LT(steady_clock::now() - begin, seconds(3)) << script;
        EXPECT_TRUE(outcome.timedOut) << script;
        EXPECT_EQ(outcome.exitStatus, 128 + SIGKILL) << script;
    }
    for (const auto &entry : fs::directory_iterator("/proc")) {
        std::ifstream command(entry.path() / "cmdline");
        std::string text;
        std::getline(command, text, '\0');
        std::string argument;
        std::getline(command, argument, '\0');
        EXPECT_FALSE(text == "sleep" && argument == "31.5") << "left running: " << entry.path();
    }
    const ToolOutcome quick = runTool("/bin/sh", { "-c", "echo fine; exit 3" });
    EXPECT_FALSE(quick.timedOut);
    EXPECT_EQ(quick.exitStatus, 3);
    EXPECT_EQ(quick.standardOutput, "fine\n");
}

TEST_F(ProxyHelperServiceTest, DecodingAndLaunchErrorsBecomeFailureReplies)
{
    EXPECT_FALSE(execute(std::string("{\"commands\":")).success);
    EXPECT_NE(execute(std::string("{\"lines\":[]}")).message.find("commands"), std::string::npos);
    // The decoder's text quotes the offending byte, which cannot be encoded: fixed bytes instead.
    EXPECT_EQ(service.execute("{\"commands\":\"\xff\"}"), ProxyHelperResponse::fallbackBytes);

    ProxyHelperService missing(dir.path() / "no-such-tool");
    EXPECT_NE(ProxyHelperResponse::decode(missing.execute(requestJson(Lines { webOn }))).message.find("no-such-tool"),
        std::string::npos);
}

TEST(StandInNetworksetup, ConcurrentRunsNeverLoseAWrite)
{
    TempDir dir;
    StandInState state(dir.path());
    auto json = state.read();
    for (int i = 0; i < 16; ++i)
        json["services"].push_back(StandInState::serviceRecord("svc" + std::to_string(i), "10.1.0.1"));
    state.write(json);
    std::vector<std::thread> writers;
    for (int i = 0; i < 16; ++i)
        writers.emplace_back([i, &state] {
            runTool(VEYRA_NETWORKSETUP_EXECUTABLE, { "-setwebproxy", "svc" + std::to_string(i), "h", "1000" },
                state.toolEnvironment());
        });
    for (auto &writer : writers)
        writer.join();
    EXPECT_EQ(state.history().size(), 16u);
}
