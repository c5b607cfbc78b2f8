#include "HelperTestSupport.h"
#include "ProxyHelperServer.h"

#include "veyra/ipc/Framing.h"
#include "veyra/ipc/ProxyHelperRecords.h"

#include <fstream>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace veyra::helper;
using namespace veyra::helper::test;
using namespace std::chrono_literals;
namespace Framing = veyra::ipc::Framing;

namespace {

struct AllowAll : PeerAuthorizer {
    bool authorize(int) override { return true; }
    bool stillAuthorized(int) override { return true; }
};

// A raw client: connect, send, then the reply's success, or nothing if the server closed first
// (or `limit` passed).
struct Client {
    explicit Client(const fs::path &path, const std::string &bytes)
        : fd(connectTo(path))
    {
        EXPECT_GE(fd, 0);
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    ~Client() { ::close(fd); }
    std::optional<veyra::ipc::ProxyHelperResponse> reply(std::chrono::milliseconds limit = 5s)
    {
        Framing::FrameReader reader;
        char buffer[4096];
        while (reader.status() == Framing::FrameReader::Status::needMore) {
            struct pollfd wait = { fd, POLLIN, 0 };
            const ssize_t n = ::poll(&wait, 1, int(limit.count())) > 0 ? ::recv(fd, buffer, sizeof buffer, 0) : -1;
            if (n <= 0)
                return std::nullopt;
            reader.feed(std::string_view(buffer, std::size_t(n)));
        }
        return veyra::ipc::ProxyHelperResponse::decode(reader.payload());
    }
    int fd;
};

class ProxyHelperServerIntegration : public InProcessHelper {
protected:
    void start(ProxyHelperServer::Limits limits = {}, const std::string &toolPath = VEYRA_NETWORKSETUP_EXECUTABLE)
    {
        serve(std::make_unique<AllowAll>(), limits, toolPath);
    }

    const std::string requestText = requestJson({ { tool, "-setwebproxystate", "Wi-Fi", "off" } });
    const std::string request = Framing::frame(requestText);
};

} // namespace

// The socket is bound for everybody to connect, never over a file that is not a socket. Each
// connection gets one reply, an oversized one without its body being read. With a tool that logs
// each run's service and takes a while, overlapping requests would interleave: they run one
// request at a time.
TEST_F(ProxyHelperServerIntegration, OneRequestAtATimeAndOneReplyEachOnAWorldConnectableSocket)
{
    writeFile(dir.path() / "regular", "keep me");
    EXPECT_THROW(bindListeningSocket(dir.path() / "regular"), std::system_error);
    EXPECT_TRUE(fs::exists(dir.path() / "regular"));
    const fs::path log = dir.path() / "runs.log";
    writeScript(dir.path() / "slow", "echo \"$2\" >> '" + log.string() + "'\n/bin/sleep 0.1\n");
    start({}, (dir.path() / "slow").string());
    EXPECT_EQ(fs::status(socketPath).permissions() & fs::perms::all, fs::perms(0666));
    const auto linesFor = [](const std::string &service) {
        return Framing::frame(requestJson(
            { { tool, "-setwebproxystate", service, "off" }, { tool, "-setsecurewebproxystate", service, "off" },
                { tool, "-setsocksfirewallproxystate", service, "off" } }));
    };
    Client first(socketPath, linesFor("A")), second(socketPath, linesFor("B"));
    EXPECT_TRUE(first.reply().value_or(veyra::ipc::ProxyHelperResponse {}).success);
    EXPECT_TRUE(second.reply());
    EXPECT_FALSE(first.reply()) << "the helper closes after its one reply";
    std::string runs;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);)
        runs += line;
    EXPECT_TRUE(runs == "AAABBB" || runs == "BBBAAA") << runs;
    EXPECT_EQ(
        Client(socketPath, Framing::encodeHeader(131073)).reply().value_or(veyra::ipc::ProxyHelperResponse {}).message,
        "后台服务请求超过大小限制。");
}

// A client that sends part of a request and then nothing holds a slot, not the helper: others are
// served meanwhile, and it is dropped once its time-out has passed.
TEST_F(ProxyHelperServerIntegration, ASilentClientDoesNotStallOthersAndIsDropped)
{
    ProxyHelperServer::Limits limits;
    limits.maximumConnections = 2;
    limits.ioTimeout = 4s;
    start(limits);
    Client silent(socketPath, Framing::encodeHeader(10) + "abc");
    char byte = 0;
    EXPECT_TRUE(Client(socketPath, request).reply());
    EXPECT_EQ(::recv(silent.fd, &byte, 1, MSG_DONTWAIT), -1) << "served while the silent client holds the other slot";
    EXPECT_FALSE(silent.reply(30s));
    EXPECT_EQ(::recv(silent.fd, &byte, 1, MSG_DONTWAIT), 0) << "closed by the helper, not kept for ever";
}

// Stalled connections of one user are held far longer than the application waits for its reply.
TEST_F(ProxyHelperServerIntegration, OneUserStallingConnectionsLeavesRoomForAnother)
{
    ProxyHelperServer::Limits limits;
    limits.ioTimeout = 30s;
    start(limits);
    if (!runningAsRoot())
        GTEST_SKIP() << "needs root: the two peers must run as two other users";
    Child stalled([&](int ready) {
        becomeUser(nobody);
        for (int i = 0; i < 24; ++i)
            if (connectTo(socketPath) < 0)
                ::_exit(3);
        [[maybe_unused]] ssize_t n = ::write(ready, "x", 1);
        ::pause();
    });
    ASSERT_TRUE(stalled.ready()) << "the stalled connections were not all made";
    copyExecutable(VEYRA_TEST_CLIENT, dir.path() / "client");
    writeFile(dir.path() / "request.json", requestText);
    ToolOutcome other = runClient(dir.path() / "client", socketPath, dir.path() / "request.json", nobody - 1);
    ASSERT_EQ(other.exitStatus, 0) << other.standardError;
    EXPECT_TRUE(veyra::ipc::ProxyHelperResponse::decode(other.standardOutput).success);
}
