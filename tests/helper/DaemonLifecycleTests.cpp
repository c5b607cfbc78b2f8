#include "HelperTestSupport.h"
#include "ProxyHelperDaemon.h"
#include "ProxyHelperServer.h"

#include "veyra/ipc/ProxyHelperRecords.h"

#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

using namespace veyra::helper;
using namespace veyra::helper::test;
using namespace std::chrono_literals;

namespace {

// The daemon's own code in a child process, started from a root-owned bundle whose main
// executable is the test client, with a tool script instead of networksetup and an idle time
// of one second.
class DaemonLifecycleIntegration : public BundleTest {
protected:
    std::unique_ptr<Child> startDaemon(bool socketActivated, const std::string &toolBody)
    {
        writeScript(dir.path() / "tool", toolBody);
        const ProxyHelperLocations locations { bundle->helper.string(), socketPath.string(),
            (dir.path() / "tool").string(), (dir.path() / "record" / "settings.json").string() };
        const int listener = socketActivated ? bindListeningSocket(socketPath) : -1;
        // The service manager's side: `listener` (if any) as descriptor 3 with LISTEN_FDS, and a
        // datagram socket on which the daemon says READY=1.
        const sockaddr_un notifyAddress = addressOf(dir.path() / "notify.sock");
        const int notify = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        EXPECT_EQ(::bind(notify, reinterpret_cast<const sockaddr *>(&notifyAddress), sizeof notifyAddress), 0);
        auto daemon = std::make_unique<Child>([&](int ready) {
            ::close(ready);
            if (listener >= 0) {
                // Not close-on-exec, as the service manager passes it.
                ::dup2(listener, 3);
                ::fcntl(3, F_SETFD, 0);
                ::setenv("LISTEN_FDS", "1", 1);
                ::setenv("LISTEN_PID", std::to_string(::getpid()).c_str(), 1);
            }
            ::setenv("NOTIFY_SOCKET", notifyAddress.sun_path, 1);
            ::setenv("VEYRA_DAEMON_ONLY", "leaked", 1); // no tool may see the daemon's environment
            ::_exit(runProxyHelper(locations, std::cerr, 1s));
        });
        char message[256] = {};
        struct pollfd wait = { notify, POLLIN, 0 };
        EXPECT_TRUE(::poll(&wait, 1, 5000) > 0 && ::recv(notify, message, sizeof message - 1, 0) > 0
            && std::strstr(message, "READY=1"));
        ::close(notify);
        if (listener >= 0)
            ::close(listener);
        return daemon;
    }
    void expectServed()
    {
        const ToolOutcome reply = client(bundle->mainExecutable);
        ASSERT_EQ(reply.exitStatus, 0) << reply.standardError;
        EXPECT_TRUE(veyra::ipc::ProxyHelperResponse::decode(reply.standardOutput).success);
    }
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
