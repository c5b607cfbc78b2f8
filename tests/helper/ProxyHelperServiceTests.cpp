#include "HelperTestSupport.h"
#include "ProxyHelperService.h"

#include "veyra/ipc/ProxyHelperRecords.h"

#include <csignal>
#include <sstream>
#include <sys/stat.h>
#include <thread>

using namespace veyra::helper;
using namespace veyra::helper::test;
using veyra::ipc::ProxyHelperResponse;
using Lines = std::vector<std::vector<std::string>>;

namespace {

ProxyHelperResponse execute(
    const StandInState &state, const std::string &request, const fs::path &toolPath = VEYRA_NETWORKSETUP_EXECUTABLE)
{
    return ProxyHelperResponse::decode(
        ProxyHelperService(toolPath, state.recordFile(), state.toolEnvironment()).execute(request));
}

class ProxyHelperServiceIntegration : public ::testing::Test {
protected:
    ProxyHelperResponse execute(const Lines &commands) const { return ::execute(state, requestJson(commands)); }

    TempDir dir;
    StandInState state { dir.path() };
};

const std::vector<std::string> webOff = { tool, "-setwebproxystate", "Wi-Fi", "off" };

} // namespace

// The lines run in order with the helper's own tool, once the whole request (at most 128 KiB)
// passed; a line failing without a word stops the rest.
TEST_F(ProxyHelperServiceIntegration, RunsTheLinesInOrderOnlyAfterTheRequestPassed)
{
    ProxyHelperResponse reply = execute(Lines { { tool, "-setwebproxy", "Wi-Fi", "127.0.0.1", "7890" }, webOff });
    EXPECT_TRUE(reply.success);
    EXPECT_EQ(reply.message, "系统代理设置已更新。");
    EXPECT_EQ(state.history(),
        (Lines { { "-setwebproxy", "Wi-Fi", "127.0.0.1", "7890" }, { "-setwebproxystate", "Wi-Fi", "off" } }));

    std::string exact = requestJson(Lines { webOff });
    exact.insert(exact.size() - 1, std::string(131072 - exact.size(), ' '));
    EXPECT_TRUE(::execute(state, exact).success);
    exact.insert(exact.end() - 1, ' ');
    EXPECT_EQ(::execute(state, exact).message, "后台服务请求超过大小限制。");
    EXPECT_EQ(execute(Lines { webOff, { tool, "-getwebproxy", "Wi-Fi" } }).message, "后台服务拒绝了不允许的代理操作。");
    EXPECT_EQ(state.history().size(), 3u) << "only the exact-size request ran";
    EXPECT_NE(::execute(state, requestJson(Lines { webOff }), dir.path() / "no-such-tool").message.find("no-such-tool"),
        std::string::npos);

    state.failOn("-setsocksfirewallproxystate", 4);
    reply = execute(Lines { webOff, { tool, "-setsocksfirewallproxystate", "Wi-Fi", "off" }, webOff });
    EXPECT_EQ(reply.message, "系统代理设置失败。");
    EXPECT_FALSE(reply.success);
    EXPECT_EQ(state.history().size(), 4u) << "the line after the failing one did not run";
}

// Trimmed error output, else output, else a fixed text; both streams far beyond what a pipe
// holds are read while the tool runs, so the helper cannot deadlock with it.
TEST(ProxyHelperService, FailureTextIsTrimmedErrorOutputElseOutputElseGeneric)
{
    const std::tuple<std::string, std::string, std::string> cases[] = {
        { "\n  Wi-Fi is busy. \n", "ignored", "Wi-Fi is busy." },
        { " \n\n ", "  from output\n", "from output" },
        { " \n", "\n\t", "系统代理设置失败。" },
        { std::string(600'000, 'e'), std::string(600'000, 'o'), std::string(65'536, 'e') },
    };
    for (const auto &[standardError, standardOutput, expected] : cases) {
        TempDir dir;
        StandInState failing(dir.path());
        failing.failOn("-setwebproxystate", 1, standardError, standardOutput);
        EXPECT_EQ(execute(failing, requestJson(Lines { webOff })).message, expected) << expected.substr(0, 20);
    }
}

// A tool past its time limit is killed: one that keeps its streams open, and one that closes them
// first and then hangs in a child of its own, which must not outlive it.
TEST(ToolRunnerIntegration, AToolHoldsNoCapabilityAndIsKilledPastItsTimeLimit)
{
    using namespace std::chrono;
    for (const char *script : { "echo started; exec sleep 30", "exec >&- 2>&-; sleep 31.5; true" }) {
        const ToolOutcome outcome
            = runTool("/bin/sh", { "-c", script }, minimalToolEnvironment(), 1024, milliseconds(300));
        EXPECT_TRUE(outcome.timedOut) << script;
        EXPECT_EQ(outcome.exitStatus, 128 + SIGKILL) << script;
    }
    // A killed process can still be seen for a moment while it exits.
    bool leftRunning = true;
    for (int i = 0; i < 200 && leftRunning; ++i, std::this_thread::sleep_for(milliseconds(10)))
        leftRunning = runTool("/usr/bin/pgrep", { "-x", "-f", "sleep 31.5" }).exitStatus == 0;
    EXPECT_FALSE(leftRunning) << "a child of the tool outlived it";

    // The tool runs as root, but with no capability left in any set, so it cannot read into
    // other processes as the helper can.
    const ToolOutcome status = runTool("/bin/grep", { "^Cap", "/proc/self/status" });
    std::istringstream lines(status.standardOutput);
    int sets = 0;
    for (std::string name, value; lines >> name >> value; ++sets)
        EXPECT_EQ(value, "0000000000000000") << name;
    EXPECT_EQ(sets, 5) << status.standardError;
}

// Once the helper has pointed Wi-Fi here, a request may only point it here again, switch things
// off, or put back what Wi-Fi had before; Ethernet, never pointed here, has nothing recorded.
TEST_F(ProxyHelperServiceIntegration, OnlyLoopbackOrTheRecordedSettingsMayBeSet)
{
    auto json = state.read();
    json["services"][0]["web"] = { { "enabled", true }, { "server", "corp.proxy" }, { "port", 8080 } };
    json["services"][0]["bypassDomains"] = { "*.corp", "10/8" };
    json["services"][0]["autoProxyURL"] = "http://pac.corp/p.pac";
    state.write(json);
    Lines apply = { { tool, "-setautoproxystate", "Wi-Fi", "off" }, { tool, "-setproxyautodiscovery", "Wi-Fi", "off" },
        { tool, "-setproxybypassdomains", "Wi-Fi", "localhost", "127.0.0.1", "::1", "*.local", "169.254/16" } };
    for (const std::string kind : { "webproxy", "securewebproxy", "socksfirewallproxy" }) {
        apply.push_back({ tool, "-set" + kind, "Wi-Fi", "127.0.0.1", "7890" });
        apply.push_back({ tool, "-set" + kind + "state", "Wi-Fi", "on" });
    }
    // Applied twice: the second time Wi-Fi already points here, which must not replace the record.
    ASSERT_TRUE(execute(apply).success);
    ASSERT_TRUE(execute(apply).success);
    EXPECT_EQ(fs::status(state.recordFile()).permissions(), fs::perms::owner_read | fs::perms::owner_write);

    const Lines genuineRestore = { { tool, "-setwebproxy", "Wi-Fi", "corp.proxy", "8080" },
        { tool, "-setwebproxystate", "Wi-Fi", "on" }, { tool, "-setsecurewebproxystate", "Wi-Fi", "off" },
        { tool, "-setproxybypassdomains", "Wi-Fi", "*.corp", "10/8" },
        { tool, "-setautoproxyurl", "Wi-Fi", "http://pac.corp/p.pac" },
        { tool, "-setautoproxystate", "Wi-Fi", "off" } };
    const std::tuple<std::string, Lines, bool> cases[] = {
        { "another server", { { tool, "-setwebproxy", "Wi-Fi", "203.0.113.9", "8080" } }, false },
        { "the recorded server on another port", { { tool, "-setwebproxy", "Wi-Fi", "corp.proxy", "9090" } }, false },
        { "another bypass list", { { tool, "-setproxybypassdomains", "Wi-Fi", "*" } }, false },
        { "another configuration address", { { tool, "-setautoproxyurl", "Wi-Fi", "http://203.0.113.9/p" } }, false },
        { "configuration switched on, recorded off", { { tool, "-setautoproxystate", "Wi-Fi", "on" } }, false },
        { "a proxy switched on, recorded off", { { tool, "-setsecurewebproxystate", "Wi-Fi", "on" } }, false },
        { "a server where nothing is recorded", { { tool, "-setwebproxy", "Ethernet", "corp.proxy", "8080" } }, false },
        { "a good line before a bad one", { genuineRestore[0], { tool, "-setwebproxy", "Wi-Fi", "x.y", "1" } }, false },
        { "the machine itself on any port",
            { { tool, "-setsocksfirewallproxy", "Wi-Fi", "LocalHost", "1" },
                { tool, "-setsocksfirewallproxystate", "Wi-Fi", "on" } },
            true },
        { "switching off where nothing is recorded",
            { { tool, "-setwebproxystate", "Ethernet", "off" },
                { tool, "-setproxybypassdomains", "Ethernet", "Empty" } },
            true },
        { "what was there before", genuineRestore, true },
    };
    for (const auto &[name, lines, accepted] : cases) {
        const std::size_t before = state.history().size();
        EXPECT_EQ(execute(lines).success, accepted) << name;
        EXPECT_EQ(state.history().size(), before + (accepted ? lines.size() : 0)) << name;
    }

    // Changed by its owner since, then pointed here again: what it has now is what counts.
    runTool(VEYRA_NETWORKSETUP_EXECUTABLE, { "-setwebproxy", "Wi-Fi", "new.corp", "3128" }, state.toolEnvironment());
    runTool(VEYRA_NETWORKSETUP_EXECUTABLE, { "-setsocksfirewallproxystate", "Wi-Fi", "off" }, state.toolEnvironment());
    ASSERT_TRUE(execute(apply).success);
    EXPECT_TRUE(execute(Lines { { tool, "-setwebproxy", "Wi-Fi", "new.corp", "3128" } }).success);
    EXPECT_FALSE(execute(Lines { genuineRestore[0] }).success);
}
