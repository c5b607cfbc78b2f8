#pragma once

#include "ProxyHelperServer.h"
#include "StandInState.h"
#include "ToolRunner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace veyra::helper::test {

inline const std::string tool = "/usr/sbin/networksetup";
inline constexpr uid_t nobody = 65534;

bool runningAsRoot();
void copyExecutable(const fs::path &from, const fs::path &to);

// A forked child that prepares itself with `setup`, given the write end of a pipe. The
// constructor returns once the child wrote to the pipe (ready()) or closed it by an exec or by
// ending. Killed and reaped on destruction unless it ended.
class Child {
public:
    explicit Child(const std::function<void(int ready)> &setup);
    ~Child();
    pid_t pid() const { return m_pid; }
    bool ready() const { return m_ready; }
    // The exit status (or 128 + signal) when it ends within `limit`.
    std::optional<int> wait(std::chrono::milliseconds limit = std::chrono::minutes(1));

private:
    pid_t m_pid = -1;
    bool m_ready = false;
    std::optional<int> m_status;
};

// The address of the Unix socket at `path`.
sockaddr_un addressOf(const fs::path &path);
// A stream socket connected to `socket` (close-on-exec unless `inheritable`), or -1.
int connectTo(const fs::path &socket, bool inheritable = false);
// In a forked child: becomes `uid` (as group too, without supplementary groups) for good, or ends.
void becomeUser(uid_t uid);

// A bundle in a temporary directory, owned by root: the test client as its main executable
// and a copy of the helper beside it.
struct TestBundle {
    explicit TestBundle(const fs::path &root);
    fs::path bundle, macos, mainExecutable, helper;
};

// Runs the test client with the socket and the request file: as `uid` (also as group and without
// supplementary groups) through setpriv, or as the test itself when `uid` is root.
ToolOutcome runClient(const fs::path &client, const fs::path &socket, const fs::path &requestFile, uid_t uid = nobody,
    const std::vector<std::string> &environment = minimalToolEnvironment());

std::string requestJson(const std::vector<std::vector<std::string>> &commands);

// The helper's server on a thread of the test, on a socket in a temporary folder, with the
// stand-in networksetup on that folder's state as its tool.
class InProcessHelper : public ::testing::Test {
protected:
    void serve(std::unique_ptr<PeerAuthorizer> authorizer, ProxyHelperServer::Limits limits = {},
        const std::string &toolPath = VEYRA_NETWORKSETUP_EXECUTABLE)
    {
        server = std::make_unique<ProxyHelperServer>(bindListeningSocket(socketPath),
            ProxyHelperService(toolPath, state.recordFile(), state.toolEnvironment()), std::move(authorizer), limits);
        thread = std::thread([this] { server->serve(); });
    }
    void TearDown() override
    {
        if (server) {
            server->stop();
            thread.join();
        }
    }

    TempDir dir;
    StandInState state { dir.path() };
    fs::path socketPath = dir.path() / "helper.sock";
    std::unique_ptr<ProxyHelperServer> server;
    std::thread thread;
};

// A root-owned bundle whose main executable is the test client, and a request for it to send.
class BundleTest : public InProcessHelper {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root: the bundle must be root-owned and the client must switch users";
        bundle = std::make_unique<TestBundle>(dir.path());
        writeFile(requestFile, requestJson({ { tool, "-setwebproxystate", "Wi-Fi", "off" } }));
    }
    ToolOutcome client(const fs::path &program, uid_t uid = nobody,
        const std::vector<std::string> &environment = minimalToolEnvironment())
    {
        return runClient(program, socketPath, requestFile, uid, environment);
    }

    std::unique_ptr<TestBundle> bundle;
    fs::path requestFile = dir.path() / "request.json";
};

} // namespace veyra::helper::test
