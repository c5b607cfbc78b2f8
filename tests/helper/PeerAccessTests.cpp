#include "DesignatedRequirement.h"
#include "HelperTestSupport.h"
#include "PeerAuthorizer.h"
#include "ProxyHelperServer.h"

#include "veyra/ipc/ProxyHelperRecords.h"

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

using namespace veyra::helper;
using namespace veyra::helper::test;
using veyra::ipc::ProxyHelperResponse;

namespace {

// A root-owned bundle whose main executable is the test client; requests go through the
// helper's own peer check, so only that client, run by an ordinary user, gets an answer.
class PeerAccessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!runningAsRoot())
            GTEST_SKIP() << "needs root: the bundle must be root-owned and the client must switch users";
        bundle = std::make_unique<TestBundle>(dir.path());
        socketPath = dir.path() / "helper.sock";
        requestFile = dir.path() / "request.json";
        writeFile(requestFile, requestJson({ { tool, "-setwebproxy", "Wi-Fi", "127.0.0.1", "7890" } }));
    }
    void TearDown() override
    {
        if (server) {
            server->stop();
            thread.join();
        }
    }
    void startInProcessHelper()
    {
        auto requirement = containingAppDesignatedRequirement(bundle->helper.string());
        ASSERT_TRUE(requirement);
        server = std::make_unique<ProxyHelperServer>(bindListeningSocket(socketPath),
            ProxyHelperService(VEYRA_NETWORKSETUP_EXECUTABLE),
            std::make_unique<RequirementPeerAuthorizer>(*requirement));
        thread = std::thread([this] { server->serve(); });
    }
    bool webProxyChanged() const { return state.service("Wi-Fi")["web"]["server"] == "127.0.0.1"; }

    TempDir dir;
    StandInState state { dir.path() };
    std::unique_ptr<TestBundle> bundle;
    fs::path socketPath;
    fs::path requestFile;
    std::unique_ptr<ProxyHelperServer> server;
    std::thread thread;
};

} // namespace

TEST_F(PeerAccessTest, BundleClientRunByAnOrdinaryUserIsServed)
{
    startInProcessHelper();
    ToolOutcome outcome = runClient(bundle->mainExecutable, socketPath, requestFile, true);
    ASSERT_EQ(outcome.exitStatus, 0) << outcome.standardError;
    ProxyHelperResponse reply = ProxyHelperResponse::decode(outcome.standardOutput);
    EXPECT_TRUE(reply.success);
    EXPECT_EQ(reply.message, "系统代理设置已更新。");
    EXPECT_TRUE(webProxyChanged());
}

TEST_F(PeerAccessTest, BundleClientRunAsRootIsRefusedBeforeAnythingRuns)
{
    startInProcessHelper();
    ToolOutcome outcome = runClient(bundle->mainExecutable, socketPath, requestFile, false);
    EXPECT_EQ(outcome.exitStatus, 2);
    EXPECT_TRUE(state.history().empty());
}

TEST_F(PeerAccessTest, IdenticalCopyOutsideTheBundleIsRefused)
{
    startInProcessHelper();
    const fs::path other = dir.path() / "other-client";
    copyExecutable(VEYRA_TEST_CLIENT, other);
    ToolOutcome outcome = runClient(other, socketPath, requestFile, true);
    EXPECT_EQ(outcome.exitStatus, 2);
    EXPECT_TRUE(state.history().empty());
}

TEST_F(PeerAccessTest, DifferentProgramIsRefused)
{
    startInProcessHelper();
    // The stand-in tool is a different program; connect with it through a shell-free route:
    // run the client through the dynamic loader, which makes the loader the process image.
    const fs::path loader = "/lib64/ld-linux-x86-64.so.2";
    if (!fs::exists(loader))
        GTEST_SKIP() << "no loader at " << loader;
    ToolOutcome outcome = runTool("/usr/bin/setpriv",
        { "--reuid=65534", "--regid=65534", "--clear-groups", loader.string(), bundle->mainExecutable.string(),
            socketPath.string(), requestFile.string() });
    EXPECT_EQ(outcome.exitStatus, 2);
    EXPECT_TRUE(state.history().empty());
}

TEST_F(PeerAccessTest, InstalledExecutableServesThroughSocketActivation)
{
    // The daemon as installed: started from the bundle with the socket passed by the service
    // manager's protocol, and the stand-in mounted at the tool's fixed path in a private mount
    // namespace so nothing of the host changes.
    const fs::path sbin = dir.path() / "sbin";
    fs::create_directories(sbin);
    fs::permissions(sbin, fs::perms(0755));
    copyExecutable(VEYRA_NETWORKSETUP_EXECUTABLE, sbin / "networksetup");

    int listener = bindListeningSocket(socketPath);
    int high = ::fcntl(listener, F_DUPFD_CLOEXEC, 20);
    ::close(listener);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, high, 3);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const std::string script = "mount --bind \"$1\" /usr/sbin && LISTEN_FDS=1 LISTEN_PID=$$ exec \"$0\"";
    std::vector<std::string> args = { "/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c",
        script, bundle->helper.string(), sbin.string() };
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t daemon = 0;
    ASSERT_EQ(::posix_spawn(&daemon, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(high);

    ToolOutcome outcome = runClient(bundle->mainExecutable, socketPath, requestFile, true);
    ToolOutcome asRoot = runClient(bundle->mainExecutable, socketPath, requestFile, false);

    ::kill(daemon, SIGTERM);
    int status = 0;
    ::waitpid(daemon, &status, 0);

    ASSERT_EQ(outcome.exitStatus, 0) << outcome.standardError;
    EXPECT_TRUE(ProxyHelperResponse::decode(outcome.standardOutput).success);
    EXPECT_TRUE(webProxyChanged());
    EXPECT_EQ(asRoot.exitStatus, 2);
    EXPECT_EQ(state.history().size(), 1u);
}

TEST(HelperStartUp, RefusesToStartOutsideAnAppBundle)
{
    TempDir dir;
    const fs::path loose = dir.path() / "a" / "b" / "c" / "VeyraProxyHelper";
    fs::create_directories(loose.parent_path());
    copyExecutable(VEYRA_HELPER_EXECUTABLE, loose);
    ToolOutcome outcome = runTool(loose.string(), {});
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_EQ(outcome.standardError, "无法验证维拉网络助手代码签名，后台服务拒绝启动。\n");
}

TEST(HelperStartUp, RefusesToStartFromAWritableBundle)
{
    TempDir dir;
    TestBundle bundle(dir.path());
    fs::permissions(bundle.bundle / "Contents", fs::perms(0775));
    ToolOutcome outcome = runTool(bundle.helper.string(), {});
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_EQ(outcome.standardError, "无法验证维拉网络助手代码签名，后台服务拒绝启动。\n");
}
