#include "DesignatedRequirement.h"
#include "HelperProcesses.h"
#include "HelperTestSupport.h"
#include "PeerAuthorizer.h"
#include "ProxyHelperServer.h"

#include "veyra/ipc/Framing.h"
#include "veyra/ipc/ProxyHelperRecords.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace veyra::helper;
using namespace veyra::helper::test;
using veyra::ipc::ProxyHelperResponse;

namespace {

const std::string refusalLine = "无法验证维拉网络助手代码签名，后台服务拒绝启动。\n";

// The capability bounding set the installed unit gives the helper, in setpriv's words
// ("-all,+sys_ptrace,..."), so the test runs the helper with exactly what it will have.
std::string unitBoundingSet()
{
    std::ifstream unit(VEYRA_HELPER_UNIT);
    const std::string key = "CapabilityBoundingSet=";
    std::string line;
    while (std::getline(unit, line)) {
        if (line.rfind(key, 0) != 0)
            continue;
        std::istringstream names(line.substr(key.size()));
        std::string set = "-all";
        std::string name;
        while (names >> name) {
            std::string lower = name.substr(std::string("CAP_").size());
            std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
            set += ",+" + lower;
        }
        return set;
    }
    return {};
}

// In a forked child: drops to nobody for good, or ends.
void becomeNobody()
{
    if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0)
        ::_exit(126);
}

// Starts `program` as nobody with `environment`, without waiting for it; with `streams`, that
// descriptor becomes its standard input, output and error.
pid_t startAsNobody(
    const std::vector<std::string> &arguments, const std::vector<std::string> &environment, int streams = -1)
{
    std::vector<char *> argv;
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char *> envp;
    for (const std::string &entry : environment)
        envp.push_back(const_cast<char *>(entry.c_str()));
    envp.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        if (streams >= 0)
            for (int stream : { STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO })
                ::dup2(streams, stream);
        becomeNobody();
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    return child;
}

int exitStatusOf(pid_t child)
{
    int status = 0;
    if (::waitpid(child, &status, 0) != child)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A root-owned bundle whose main executable is the test client. Requests pass the helper's
// real peer check, so only that client, run by an ordinary user, gets an answer.
class PeerAccessIntegration : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!runningAsRoot())
            GTEST_SKIP() << "needs root: the bundle must be root-owned and the client must switch users";
        bundle = std::make_unique<TestBundle>(dir.path());
        writeFile(requestFile, requestJson({ { tool, "-setwebproxy", "Wi-Fi", "127.0.0.1", "7890" } }));
    }
    void TearDown() override
    {
        if (server) {
            server->stop();
            thread.join();
        }
    }
    void startInProcessHelper(RequirementPeerAuthorizer::Digest digest = sha256OfDescriptor)
    {
        auto requirement = containingAppDesignatedRequirement(bundle->helper.string());
        ASSERT_TRUE(requirement);
        server = std::make_unique<ProxyHelperServer>(bindListeningSocket(socketPath),
            ProxyHelperService(VEYRA_NETWORKSETUP_EXECUTABLE, state.recordFile(), state.toolEnvironment()),
            std::make_unique<RequirementPeerAuthorizer>(*requirement, std::move(digest)));
        thread = std::thread([this] { server->serve(); });
    }
    ToolOutcome client(const fs::path &program, bool unprivileged)
    {
        return runClient(program, socketPath, requestFile, unprivileged);
    }

    // The genuine client, run by an ordinary user with a loader variable set.
    ToolOutcome preloadedClient() const
    {
        std::vector<std::string> environment = minimalToolEnvironment();
        environment.push_back("LD_PRELOAD=/lib/x86_64-linux-gnu/libm.so.6");
        return runPrivileged("/usr/bin/setpriv",
            { "--reuid=65534", "--regid=65534", "--clear-groups", bundle->mainExecutable.string(), socketPath.string(),
                requestFile.string() },
            environment);
    }
    // In a forked child: becomes the genuine client with the test's request.
    [[noreturn]] void execClient() const
    {
        const std::string program = bundle->mainExecutable.string();
        const std::string socket = socketPath.string();
        const std::string request = requestFile.string();
        ::execl(program.c_str(), program.c_str(), socket.c_str(), request.c_str(), static_cast<char *>(nullptr));
        ::_exit(127);
    }

    TempDir dir;
    StandInState state { dir.path() };
    std::unique_ptr<TestBundle> bundle;
    fs::path socketPath = dir.path() / "helper.sock";
    fs::path requestFile = dir.path() / "request.json";
    std::unique_ptr<ProxyHelperServer> server;
    std::thread thread;
};

} // namespace

TEST_F(PeerAccessIntegration, OnlyTheBundleClientRunByAnOrdinaryUserIsServed)
{
    startInProcessHelper();
    ToolOutcome asRoot = client(bundle->mainExecutable, false);
    EXPECT_EQ(asRoot.exitStatus, 2);
    const fs::path copy = dir.path() / "other-client"; // same bytes, another file
    copyExecutable(VEYRA_TEST_CLIENT, copy);
    EXPECT_EQ(client(copy, true).exitStatus, 2);
    EXPECT_TRUE(state.history().empty()) << "refused before anything ran";

    ToolOutcome permitted = client(bundle->mainExecutable, true);
    ASSERT_EQ(permitted.exitStatus, 0) << permitted.standardError;
    EXPECT_EQ(ProxyHelperResponse::decode(permitted.standardOutput).message, "系统代理设置已更新。");
    EXPECT_EQ(state.service("Wi-Fi")["web"]["server"], "127.0.0.1");
}

// The content is hashed at start only, and again only once the file's identity has changed (here
// its modification time); the same file reached through another name (a hard link) is refused.
TEST_F(PeerAccessIntegration, TheExecutableIsHashedAgainOnlyWhenItsIdentityChangesAndOnlyItsPathPasses)
{
    std::atomic<int> digests = 0;
    startInProcessHelper([&digests](int fd) {
        ++digests;
        return sha256OfDescriptor(fd);
    });
    EXPECT_EQ(client(bundle->mainExecutable, true).exitStatus, 0);
    EXPECT_EQ(digests, 0);
    const struct timespec now[2] = { { 0, UTIME_NOW }, { 0, UTIME_NOW } };
    ASSERT_EQ(::utimensat(AT_FDCWD, bundle->mainExecutable.c_str(), now, 0), 0);
    EXPECT_EQ(client(bundle->mainExecutable, true).exitStatus, 0);
    EXPECT_EQ(digests, 1) << "hashed once for the new identity, not for every check";

    const fs::path link = bundle->macos / "AnotherName";
    fs::create_hard_link(bundle->mainExecutable, link);
    EXPECT_EQ(client(link, true).exitStatus, 2);
    EXPECT_EQ(state.history().size(), 2u);
}

// The genuine client run by an ordinary user, but taken over (here started with a loader
// variable; every way of taking a program over is the integrity check's own test) gets no
// answer, nothing runs, and the refusal leaves the untouched client served.
TEST_F(PeerAccessIntegration, TheGenuineClientTakenOverGetsNothing)
{
    startInProcessHelper();
    const ToolOutcome preloaded = preloadedClient();
    EXPECT_EQ(preloaded.exitStatus, 2) << preloaded.standardError;
    EXPECT_TRUE(state.history().empty()) << "a taken-over client made something run";
    EXPECT_EQ(client(bundle->mainExecutable, true).exitStatus, 0);
}

// Another program connects and writes its request, then runs the genuine client, which inherits
// the connection (the attacker opened it without close-on-exec). The helper then sees the
// genuine executable on the other end; the connection must still be refused.
TEST_F(PeerAccessIntegration, AConnectionCarriedIntoTheGenuineClientIsRefused)
{
    startInProcessHelper();
    const std::string forged
        = veyra::ipc::Framing::frame(requestJson({ { tool, "-setwebproxy", "Wi-Fi", "6.6.6.6", "6666" } }));
    int accepted = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            becomeNobody();
            const int carried = ::socket(AF_UNIX, SOCK_STREAM, 0); // survives the exec below
            struct sockaddr_un address { };
            address.sun_family = AF_UNIX;
            std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
            if (::connect(carried, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
                || ::write(carried, forged.data(), forged.size()) != static_cast<ssize_t>(forged.size()))
                ::_exit(125);
            execClient();
        }
        ASSERT_EQ(::waitpid(child, nullptr, 0), child);
        for (const auto &line : state.history())
            if (std::find(line.begin(), line.end(), "6.6.6.6") != line.end())
                ++accepted;
        if (accepted)
            break;
    }
    EXPECT_EQ(accepted, 0) << "a carried connection was served";
}

TEST_F(PeerAccessIntegration, InstalledExecutableServesThroughSocketActivation)
{
    // The daemon as installed: started from the bundle with the socket handed over by the
    // service manager's protocol, with only the capabilities its unit leaves it and no way to
    // gain more, and the stand-in mounted at the tool's fixed path and a folder of the test over
    // /var/lib (where it keeps its record) in a private mount namespace, so nothing of the host
    // changes.
    const std::string boundingSet = unitBoundingSet();
    ASSERT_NE(boundingSet, "");
    const fs::path sbin = dir.path() / "sbin";
    fs::create_directories(sbin);
    fs::permissions(sbin, fs::perms(0755));
    state.writeLauncher(sbin / "networksetup");
    const fs::path varLib = dir.path() / "var-lib";
    fs::create_directories(varLib);
    const int listener = bindListeningSocket(socketPath);
    DaemonProcess daemon(dir.path(),
        { "/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c",
            "mount --bind \"$1\" /usr/sbin && mount --bind \"$3\" /var/lib && LISTEN_PID=$$ exec "
            "/usr/bin/setpriv --no-new-privs --bounding-set=\"$2\" \"$0\"",
            bundle->helper.string(), sbin.string(), boundingSet, varLib.string() },
        listener);
    ::close(listener);
    const std::string notStarted = daemon.waitUntilReady();
    ASSERT_EQ(notStarted, "");

    ToolOutcome permitted = client(bundle->mainExecutable, true);
    ToolOutcome asRoot = client(bundle->mainExecutable, false);
    ASSERT_EQ(permitted.exitStatus, 0) << permitted.standardError << daemon.standardError();
    EXPECT_TRUE(ProxyHelperResponse::decode(permitted.standardOutput).success);
    EXPECT_EQ(asRoot.exitStatus, 2);
    // With those capabilities it still sees into its peers: a preloaded client is refused.
    const ToolOutcome preloaded = preloadedClient();
    EXPECT_EQ(preloaded.exitStatus, 2) << preloaded.standardError;
    EXPECT_EQ(state.history().size(), 1u);
    EXPECT_TRUE(fs::exists(varLib / "net.veyra.networkassistant" / "proxy-settings-before.json"));
}

// Started by a service manager or a desktop launcher, the application's standard streams are
// sockets it inherited; they are not the connection, and the genuine client is served.
TEST_F(PeerAccessIntegration, TheGenuineClientWithSocketsForStreamsIsServed)
{
    startInProcessHelper();
    int streams[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, streams), 0);
    const pid_t client = startAsNobody(
        { bundle->mainExecutable.string(), socketPath.string(), requestFile.string() }, minimalToolEnvironment(),
        streams[1]);
    ::close(streams[1]);
    ASSERT_GT(client, 0);
    EXPECT_EQ(exitStatusOf(client), 0);
    std::string reply;
    char buffer[4096];
    for (ssize_t n; (n = ::read(streams[0], buffer, sizeof buffer)) > 0;)
        reply.append(buffer, static_cast<std::size_t>(n));
    ::close(streams[0]);
    EXPECT_NE(reply.find("系统代理设置已更新。"), std::string::npos) << reply;
    EXPECT_EQ(state.history().size(), 1u);
}

TEST_F(PeerAccessIntegration, RequirementNeedsARootOwnedProtectedBundle)
{
    auto requirement = containingAppDesignatedRequirement(bundle->helper.string());
    ASSERT_TRUE(requirement);
    EXPECT_EQ(requirement->executablePath, bundle->mainExecutable.string());

    const auto refusedAfter = [&](auto change, auto undo) {
        change();
        const bool refused = !containingAppDesignatedRequirement(bundle->helper.string());
        undo();
        return refused;
    };
    EXPECT_TRUE(refusedAfter([&] { fs::permissions(bundle->macos, fs::perms(0777)); },
        [&] { fs::permissions(bundle->macos, fs::perms(0755)); }));
    EXPECT_TRUE(refusedAfter([&] { fs::permissions(bundle->mainExecutable, fs::perms(0775)); },
        [&] { fs::permissions(bundle->mainExecutable, fs::perms(0755)); }));
    EXPECT_TRUE(refusedAfter([&] { (void)::chown(bundle->bundle.c_str(), 65534, 65534); },
        [&] { (void)::chown(bundle->bundle.c_str(), 0, 0); }));
    const fs::path real = dir.path() / "real-client";
    EXPECT_TRUE(refusedAfter(
        [&] {
            fs::rename(bundle->mainExecutable, real);
            fs::create_symlink(real, bundle->mainExecutable);
        },
        [&] {
            fs::remove(bundle->mainExecutable);
            fs::rename(real, bundle->mainExecutable);
        }));
    EXPECT_TRUE(containingAppDesignatedRequirement(bundle->helper.string()));
}

TEST(HelperStartUpIntegration, RefusesOutsideAnAppBundleOrFromAWritableOne)
{
    TempDir dir;
    const fs::path loose = dir.path() / "a" / "b" / "c" / "VeyraProxyHelper";
    fs::create_directories(loose.parent_path());
    copyExecutable(VEYRA_HELPER_EXECUTABLE, loose);
    ToolOutcome outcome = runTool(loose.string(), {});
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_EQ(outcome.standardError, refusalLine);

    TestBundle bundle(dir.path());
    fs::permissions(bundle.bundle / "Contents", fs::perms(0775));
    outcome = runTool(bundle.helper.string(), {});
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_EQ(outcome.standardError, refusalLine);
}
