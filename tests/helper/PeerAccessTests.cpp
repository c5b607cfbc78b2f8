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

// Requests pass the helper's real peer check, so only the bundle's client, run by an ordinary
// user, gets an answer.
class PeerAccessIntegration : public BundleTest {
protected:
    void startInProcessHelper(RequirementPeerAuthorizer::Digest digest = sha256OfDescriptor)
    {
        auto requirement = containingAppDesignatedRequirement(bundle->helper.string());
        ASSERT_TRUE(requirement);
        serve(std::make_unique<RequirementPeerAuthorizer>(*requirement, std::move(digest)));
    }
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
    // A loader variable set: taken over, as far as the helper can tell (every way of taking a
    // program over is the integrity check's test).
    std::vector<std::string> preloaded = minimalToolEnvironment();
    preloaded.push_back("LD_PRELOAD=/lib/x86_64-linux-gnu/libm.so.6");
    const struct {
        const char *name;
        fs::path program;
        uid_t uid;
        std::vector<std::string> environment;
    } refused[] = {
        { "the genuine client run by root", bundle->mainExecutable, 0, minimalToolEnvironment() },
        { "the same bytes in another file", copy, nobody, minimalToolEnvironment() },
        { "the same file by another name", link, nobody, minimalToolEnvironment() },
        { "the genuine client taken over", bundle->mainExecutable, nobody, preloaded },
    };
    for (const auto &attempt : refused)
        EXPECT_EQ(client(attempt.program, attempt.uid, attempt.environment).exitStatus, 2) << attempt.name;
    EXPECT_TRUE(state.history().empty()) << "refused before anything ran";
    const int hashed = digests;

    ToolOutcome permitted = client(bundle->mainExecutable);
    ASSERT_EQ(permitted.exitStatus, 0) << permitted.standardError;
    EXPECT_EQ(ProxyHelperResponse::decode(permitted.standardOutput).message, updated);
    EXPECT_EQ(state.history().size(), 1u);
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
        becomeUser(nobody);
        const std::string client = bundle->mainExecutable.string();
        ::execl(client.c_str(), client.c_str(), socketPath.c_str(), requestFile.c_str(), nullptr);
    });
    ::close(streams[1]);
    EXPECT_EQ(client.wait(), 0);
    std::string reply(4096, '\0');
    reply.resize(std::max<ssize_t>(0, ::read(streams[0], reply.data(), reply.size())));
    ::close(streams[0]);
    EXPECT_NE(reply.find(updated), std::string::npos) << reply;
    EXPECT_EQ(state.history().size(), 1u);
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
