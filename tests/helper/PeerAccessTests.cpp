#include "DesignatedRequirement.h"
#include "HelperTestSupport.h"
#include "PeerAuthorizer.h"
#include "ProxyHelperServer.h"

#include "veyra/ipc/ProxyHelperRecords.h"

#include <atomic>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace veyra::helper;
using namespace veyra::helper::test;
using veyra::ipc::ProxyHelperResponse;

namespace {

const std::string updated = "系统代理设置已更新。";

// The genuine client run by an ordinary user with a loader variable set: taken over, as far as
// the helper can tell (every way of taking a program over is the integrity check's test).
std::vector<std::string> preloaded()
{
    std::vector<std::string> environment = minimalToolEnvironment();
    environment.push_back("LD_PRELOAD=/lib/x86_64-linux-gnu/libm.so.6");
    return environment;
}

// A root-owned bundle whose main executable is the test client. Requests pass the helper's
// real peer check, so only that client, run by an ordinary user, gets an answer.
class PeerAccessIntegration : public InProcessHelper {
protected:
    void SetUp() override
    {
        if (!runningAsRoot())
            GTEST_SKIP() << "needs root: the bundle must be root-owned and the client must switch users";
        bundle = std::make_unique<TestBundle>(dir.path());
        writeFile(requestFile, requestJson({ { tool, "-setwebproxy", "Wi-Fi", "127.0.0.1", "7890" } }));
    }
    void startInProcessHelper(RequirementPeerAuthorizer::Digest digest = sha256OfDescriptor)
    {
        auto requirement = containingAppDesignatedRequirement(bundle->helper.string());
        ASSERT_TRUE(requirement);
        serve(std::make_unique<RequirementPeerAuthorizer>(*requirement, std::move(digest)));
    }
    ToolOutcome client(const fs::path &program, uid_t uid = nobody,
        const std::vector<std::string> &environment = minimalToolEnvironment())
    {
        return runClient(program, socketPath, requestFile, uid, environment);
    }
    // In a forked child: becomes the genuine client, as nobody, with the test's request.
    void execClient() const
    {
        becomeUser(nobody);
        ::_exit(execute({ bundle->mainExecutable.string(), socketPath.string(), requestFile.string() }));
    }

    std::unique_ptr<TestBundle> bundle;
    fs::path requestFile = dir.path() / "request.json";
};

} // namespace

// Every other caller is closed on without an answer and nothing runs. The executable's content
// is hashed at start only, and again only once the file's identity (here its modification time)
// has changed.
TEST_F(PeerAccessIntegration, OnlyTheBundleClientRunByAnOrdinaryUserIsServed)
{
    std::atomic<int> digests = 0;
    startInProcessHelper([&digests](int fd) {
        ++digests;
        return sha256OfDescriptor(fd);
    });
    const fs::path copy = dir.path() / "other-client";
    copyExecutable(VEYRA_TEST_CLIENT, copy);
    const fs::path link = bundle->macos / "AnotherName";
    fs::create_hard_link(bundle->mainExecutable, link);
    const struct {
        const char *name;
        fs::path program;
        uid_t uid;
        std::vector<std::string> environment;
    } refused[] = {
        { "the genuine client run by root", bundle->mainExecutable, 0, minimalToolEnvironment() },
        { "the same bytes in another file", copy, nobody, minimalToolEnvironment() },
        { "the same file by another name", link, nobody, minimalToolEnvironment() },
        { "the genuine client taken over", bundle->mainExecutable, nobody, preloaded() },
    };
    for (const auto &attempt : refused)
        EXPECT_EQ(client(attempt.program, attempt.uid, attempt.environment).exitStatus, 2) << attempt.name;
    EXPECT_TRUE(state.history().empty()) << "refused before anything ran";
    const int hashed = digests;

    ToolOutcome permitted = client(bundle->mainExecutable);
    ASSERT_EQ(permitted.exitStatus, 0) << permitted.standardError;
    EXPECT_EQ(ProxyHelperResponse::decode(permitted.standardOutput).message, updated);
    EXPECT_EQ(state.service("Wi-Fi")["web"]["server"], "127.0.0.1");
    EXPECT_EQ(digests, hashed) << "the genuine executable is not hashed for every check";
    const struct timespec now[2] = { { 0, UTIME_NOW }, { 0, UTIME_NOW } };
    ASSERT_EQ(::utimensat(AT_FDCWD, bundle->mainExecutable.c_str(), now, 0), 0);
    EXPECT_EQ(client(bundle->mainExecutable).exitStatus, 0);
    EXPECT_EQ(digests, hashed + 1) << "hashed once for the new identity";
}

// Started by a service manager or a desktop launcher, the application's standard streams are
// sockets it inherited; they are not the connection, and the genuine client is served.
TEST_F(PeerAccessIntegration, TheGenuineClientWithSocketsForStreamsIsServed)
{
    startInProcessHelper();
    int streams[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, streams), 0);
    Child client([&](int) {
        for (int stream : { STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO })
            ::dup2(streams[1], stream);
        execClient();
    });
    ::close(streams[1]);
    EXPECT_EQ(client.wait(), 0);
    std::string reply(4096, '\0');
    reply.resize(std::max<ssize_t>(0, ::read(streams[0], reply.data(), reply.size())));
    ::close(streams[0]);
    EXPECT_NE(reply.find(updated), std::string::npos) << reply;
    EXPECT_EQ(state.history().size(), 1u);
}

// The daemon as installed: started from the bundle with the socket handed over by the service
// manager's protocol, with only the capabilities its unit leaves it and no way to gain more, and
// in a private mount namespace the stand-in at the tool's fixed path and a folder of the test
// over /var/lib (where it keeps its record).
TEST_F(PeerAccessIntegration, InstalledExecutableServesThroughSocketActivation)
{
    const fs::path sbin = dir.path() / "sbin", varLib = dir.path() / "var-lib";
    fs::create_directories(sbin);
    fs::create_directories(varLib);
    state.writeLauncher(sbin / "networksetup");
    const int listener = bindListeningSocket(socketPath);
    // The unit's capability bounding set in setpriv's words: "-all,+sys_ptrace,...".
    const int notify = notifySocket(dir.path() / "notify.sock");
    Child daemon([&](int ready) {
        ::close(ready);
        handOver(listener, dir.path() / "notify.sock");
        ::_exit(execute({ "/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c",
            "mount --bind \"$1\" /usr/sbin && mount --bind \"$3\" /var/lib && "
            "set=-all$(sed -n 's/^CapabilityBoundingSet=//p' \"$2\" | tr 'A-Z ' 'a-z\\n' | sed -n 's/^cap_/,+/p' "
            "| tr -d '\\n') && LISTEN_PID=$$ exec /usr/bin/setpriv --no-new-privs --bounding-set=\"$set\" \"$0\"",
            bundle->helper.string(), sbin.string(), VEYRA_HELPER_UNIT, varLib.string() }));
    });
    ::close(listener);
    ASSERT_TRUE(saidReady(notify));
    ::close(notify);

    ToolOutcome permitted = client(bundle->mainExecutable);
    ASSERT_EQ(permitted.exitStatus, 0) << permitted.standardError;
    EXPECT_TRUE(ProxyHelperResponse::decode(permitted.standardOutput).success);
    // With those capabilities it still sees into its peers: a preloaded client is refused.
    EXPECT_EQ(client(bundle->mainExecutable, nobody, preloaded()).exitStatus, 2);
    EXPECT_EQ(state.history().size(), 1u);
    EXPECT_TRUE(fs::exists(varLib / "net.veyra.networkassistant" / "proxy-settings-before.json"));
}

TEST_F(PeerAccessIntegration, RequirementNeedsARootOwnedProtectedBundle)
{
    auto requirement = containingAppDesignatedRequirement(bundle->helper.string());
    ASSERT_TRUE(requirement);
    EXPECT_EQ(requirement->executablePath, bundle->mainExecutable.string());
    // Each as a change and its undoing, in the bundle's MacOS folder.
    const std::tuple<const char *, const char *, const char *> cases[] = {
        { "a folder anybody may write", "chmod 777 .", "chmod 755 ." },
        { "a main executable its group may write", "chmod 775 VeyraNetworkAssistant",
            "chmod 755 VeyraNetworkAssistant" },
        { "a bundle owned by another user", "chown nobody ../..", "chown root ../.." },
        { "a main executable that is a link",
            "mv VeyraNetworkAssistant ../../../real && ln -s ../../../real VeyraNetworkAssistant",
            "rm VeyraNetworkAssistant && mv ../../../real VeyraNetworkAssistant" },
    };
    const auto run = [&](const char *command) {
        runTool("/bin/sh", { "-c", std::string("cd \"$0\" && ") + command, bundle->macos.string() },
            minimalToolEnvironment(), 1024, std::chrono::seconds(10), ToolCapabilities::inherited);
    };
    for (const auto &[name, change, undo] : cases) {
        run(change);
        EXPECT_FALSE(containingAppDesignatedRequirement(bundle->helper.string())) << name;
        run(undo);
        EXPECT_TRUE(containingAppDesignatedRequirement(bundle->helper.string())) << name << " undone";
    }

    // The installed helper itself refuses to start outside a bundle or from a writable one.
    const fs::path loose = dir.path() / "a" / "b" / "c" / "VeyraProxyHelper";
    fs::create_directories(loose.parent_path());
    copyExecutable(VEYRA_HELPER_EXECUTABLE, loose);
    fs::permissions(bundle->bundle / "Contents", fs::perms(0775));
    for (const fs::path &helper : { loose, bundle->helper }) {
        const ToolOutcome outcome = runTool(helper.string(), {});
        EXPECT_EQ(outcome.exitStatus, 1) << helper;
        EXPECT_EQ(outcome.standardError, "无法验证维拉网络助手代码签名，后台服务拒绝启动。\n") << helper;
    }
}
