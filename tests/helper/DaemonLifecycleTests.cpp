#include "HelperProcesses.h"
#include "HelperTestSupport.h"
#include "ProxyHelperDaemon.h"
#include "ProxyHelperServer.h"

#include "veyra/ipc/ProxyHelperRecords.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <unistd.h>

using namespace veyra::helper;
using namespace veyra::helper::test;
using namespace std::chrono_literals;
using veyra::ipc::ProxyHelperResponse;

namespace {

// The daemon's own code in a child process, started from a root-owned bundle whose main
// executable is the test client, with a tool script instead of networksetup and an idle time
// short enough to watch.
class DaemonLifecycleIntegration : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!runningAsRoot())
            GTEST_SKIP() << "needs root: the bundle must be root-owned and the client must switch users";
        bundle = std::make_unique<TestBundle>(dir.path());
        writeFile(requestFile, requestJson({ { tool, "-setwebproxystate", "Wi-Fi", "off" } }));
    }
    std::unique_ptr<DaemonProcess> startDaemon(bool socketActivated, const std::string &toolBody)
    {
        writeScript(toolPath, toolBody);
        const ProxyHelperLocations locations { bundle->helper.string(), socketPath.string(), toolPath.string(),
            (dir.path() / "record" / "settings.json").string() };
        const int listener = socketActivated ? bindListeningSocket(socketPath) : -1;
        auto daemon = std::make_unique<DaemonProcess>(
            dir.path(),
            [locations] {
                // Something the daemon's environment holds that no tool may see.
                ::setenv("VEYRA_DAEMON_ONLY", "leaked", 1);
                return runProxyHelper(locations, std::cerr, 1s);
            },
            listener);
        if (listener >= 0)
            ::close(listener);
        return daemon;
    }
    ToolOutcome request() { return runClient(bundle->mainExecutable, socketPath, requestFile); }

    TempDir dir;
    std::unique_ptr<TestBundle> bundle;
    fs::path socketPath = dir.path() / "helper.sock";
    fs::path requestFile = dir.path() / "request.json";
    fs::path toolPath = dir.path() / "tool";
};

} // namespace

TEST_F(DaemonLifecycleIntegration, SocketActivatedHelperExitsWhenIdleButNeverDuringARequest)
{
    auto daemon = startDaemon(true, "/bin/sleep 2\n");
    ASSERT_EQ(daemon->waitUntilReady(), "");

    ToolOutcome reply = request(); // in flight for 2 s, twice the idle time
    ASSERT_EQ(reply.exitStatus, 0) << reply.standardError << daemon->standardError();
    EXPECT_TRUE(ProxyHelperResponse::decode(reply.standardOutput).success);
    EXPECT_FALSE(daemon->waitForExit(500ms)) << "idle only once the request is done";
    EXPECT_EQ(daemon->waitForExit(3s), 0) << "exits on its own, cleanly, after the idle time";
}

// Bound by itself, the helper serves on past the idle time; the tool it runs sees only the
// fixed minimal environment, nothing of the daemon's own.
TEST_F(DaemonLifecycleIntegration, HelperBindingItsOwnSocketKeepsServingAndItsToolSeesTheMinimalEnvironment)
{
    const fs::path seen = dir.path() / "environment";
    // The shell's own initial environment is exactly what the helper passed to it.
    auto daemon = startDaemon(false, "/usr/bin/tr '\\0' '\\n' < /proc/$$/environ > '" + seen.string() + "'\n");
    ASSERT_EQ(daemon->waitUntilReady(), "");
    EXPECT_FALSE(daemon->waitForExit(2500ms));
    ToolOutcome reply = request();
    ASSERT_EQ(reply.exitStatus, 0) << reply.standardError << daemon->standardError();
    EXPECT_TRUE(ProxyHelperResponse::decode(reply.standardOutput).success);

    std::vector<std::string> variables;
    std::ifstream in(seen);
    for (std::string line; std::getline(in, line);)
        variables.push_back(line);
    std::sort(variables.begin(), variables.end());
    EXPECT_EQ(variables, (std::vector<std::string> { "LANG=C.UTF-8", "PATH=/usr/sbin:/usr/bin:/sbin:/bin" }));
}
