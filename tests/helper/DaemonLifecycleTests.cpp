#include "HelperTestSupport.h"
#include "ProxyHelperDaemon.h"
#include "ProxyHelperServer.h"

#include "veyra/ipc/ProxyHelperRecords.h"

#include <fstream>
#include <iostream>
#include <sstream>
#include <unistd.h>

using namespace veyra::helper;
using namespace veyra::helper::test;
using namespace std::chrono_literals;

namespace {

// The daemon's own code in a child process, started from a root-owned bundle whose main
// executable is the test client, with a tool script instead of networksetup and an idle time
// of one second.
class DaemonLifecycleIntegration : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!runningAsRoot())
            GTEST_SKIP() << "needs root: the bundle must be root-owned and the client must switch users";
        bundle = std::make_unique<TestBundle>(dir.path());
        writeFile(dir.path() / "request.json", requestJson({ { tool, "-setwebproxystate", "Wi-Fi", "off" } }));
    }
    std::unique_ptr<Child> startDaemon(bool socketActivated, const std::string &toolBody)
    {
        writeScript(dir.path() / "tool", toolBody);
        const ProxyHelperLocations locations { bundle->helper.string(), socketPath.string(),
            (dir.path() / "tool").string(), (dir.path() / "record" / "settings.json").string() };
        const int listener = socketActivated ? bindListeningSocket(socketPath) : -1;
        const int notify = notifySocket(dir.path() / "notify.sock");
        auto daemon = std::make_unique<Child>([&](int ready) {
            ::close(ready);
            handOver(listener, dir.path() / "notify.sock");
            ::setenv("VEYRA_DAEMON_ONLY", "leaked", 1); // no tool may see the daemon's environment
            ::_exit(runProxyHelper(locations, std::cerr, 1s));
        });
        EXPECT_TRUE(saidReady(notify));
        ::close(notify);
        if (listener >= 0)
            ::close(listener);
        return daemon;
    }
    void expectServed()
    {
        const ToolOutcome reply = runClient(bundle->mainExecutable, socketPath, dir.path() / "request.json");
        ASSERT_EQ(reply.exitStatus, 0) << reply.standardError;
        EXPECT_TRUE(veyra::ipc::ProxyHelperResponse::decode(reply.standardOutput).success);
    }

    TempDir dir;
    std::unique_ptr<TestBundle> bundle;
    fs::path socketPath = dir.path() / "helper.sock";
};

} // namespace

TEST_F(DaemonLifecycleIntegration, SocketActivatedHelperExitsWhenIdleButNeverDuringARequest)
{
    auto daemon = startDaemon(true, "/bin/sleep 2\n");
    expectServed(); // in flight for 2 s, twice the idle time
    EXPECT_FALSE(daemon->wait(500ms)) << "idle only once the request is done";
    EXPECT_EQ(daemon->wait(3s), 0) << "exits on its own, cleanly, after the idle time";
}

// Bound by itself, the helper serves on past the idle time; the tool it runs sees only the
// fixed minimal environment (the shell's initial environment is exactly what it was given).
TEST_F(DaemonLifecycleIntegration, HelperBindingItsOwnSocketKeepsServingAndItsToolSeesTheMinimalEnvironment)
{
    const fs::path seen = dir.path() / "environment";
    auto daemon = startDaemon(false, "/usr/bin/tr '\\0' '\\n' < /proc/$$/environ | sort > '" + seen.string() + "'\n");
    EXPECT_FALSE(daemon->wait(2500ms));
    expectServed();
    std::stringstream variables;
    variables << std::ifstream(seen).rdbuf();
    EXPECT_EQ(variables.str(), "LANG=C.UTF-8\nPATH=/usr/sbin:/usr/bin:/sbin:/bin\n");
}
