#include "HelperProcesses.h"
#include "HelperTestSupport.h"
#include "ProxyHelperServer.h"

#include "veyra/ipc/Framing.h"
#include "veyra/ipc/ProxyHelperRecords.h"

#include <fstream>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace veyra::helper;
using namespace veyra::helper::test;
using namespace std::chrono_literals;
namespace Framing = veyra::ipc::Framing;

namespace {

class FixedAuthorizer : public PeerAuthorizer {
public:
    explicit FixedAuthorizer(bool allow)
        : m_allow(allow)
    {
    }
    bool authorize(int) override { return m_allow; }
    bool stillAuthorized(int) override { return m_allow; }

private:
    bool m_allow;
};

// A raw client: connect, optionally send, then the reply or nothing if the server closed
// first (or `limit` passed).
struct Client {
    explicit Client(const fs::path &path)
        : fd(connectTo(path))
    {
        EXPECT_GE(fd, 0);
    }
    ~Client() { ::close(fd); }
    void send(const std::string &bytes) { ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    std::optional<std::string> reply(std::chrono::milliseconds limit = 5s)
    {
        Framing::FrameReader reader;
        char buffer[4096];
        while (reader.status() == Framing::FrameReader::Status::needMore) {
            struct pollfd wait = { fd, POLLIN, 0 };
            ssize_t n
                = ::poll(&wait, 1, static_cast<int>(limit.count())) > 0 ? ::recv(fd, buffer, sizeof buffer, 0) : -1;
            if (n <= 0)
                return std::nullopt;
            reader.feed(std::string_view(buffer, static_cast<std::size_t>(n)));
        }
        return reader.payload();
    }
    int fd;
};

class ProxyHelperServerIntegration : public ::testing::Test {
protected:
    void start(
        bool allow, ProxyHelperServer::Limits limits = {}, const std::string &toolPath = VEYRA_NETWORKSETUP_EXECUTABLE)
    {
        server = std::make_unique<ProxyHelperServer>(bindListeningSocket(socketPath),
            ProxyHelperService(toolPath, state.recordFile(), state.toolEnvironment()), std::make_unique<FixedAuthorizer>(allow), limits);
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
    const std::string requestText = requestJson({ { tool, "-setwebproxystate", "Wi-Fi", "off" } });
    const std::string request = Framing::frame(requestText);
};

} // namespace

// The socket is bound for everybody to connect, never over a file that is not a socket; each
// connection gets one reply, an oversized one without its body being read.
TEST_F(ProxyHelperServerIntegration, OneRequestOneReplyOnAWorldConnectableSocket)
{
    writeFile(dir.path() / "regular", "keep me");
    EXPECT_THROW(bindListeningSocket(dir.path() / "regular"), std::system_error);
    EXPECT_TRUE(fs::exists(dir.path() / "regular"));
    start(true);
    EXPECT_EQ(fs::status(socketPath).permissions() & fs::perms::all, fs::perms(0666));
    Client client(socketPath);
    client.send(request);
    auto reply = client.reply();
    ASSERT_TRUE(reply);
    EXPECT_TRUE(veyra::ipc::ProxyHelperResponse::decode(*reply).success);
    EXPECT_FALSE(client.reply()) << "the helper closes after its one reply";

    Client oversized(socketPath);
    oversized.send(Framing::encodeHeader(131073));
    reply = oversized.reply();
    ASSERT_TRUE(reply) << "answered without the body";
    EXPECT_EQ(veyra::ipc::ProxyHelperResponse::decode(*reply).message, "后台服务请求超过大小限制。");
}

TEST_F(ProxyHelperServerIntegration, RefusedPeerIsClosedWithoutReplyAndNothingRuns)
{
    start(false);
    Client client(socketPath);
    client.send(request);
    EXPECT_FALSE(client.reply());
    EXPECT_TRUE(state.history().empty());
}

// A client that sends part of a request and then nothing holds a slot, not the helper: others are
// served meanwhile (with a time-out far beyond any wait here), and it is dropped once its
// time-out has passed.
TEST_F(ProxyHelperServerIntegration, ASilentClientDoesNotStallOthers)
{
    ProxyHelperServer::Limits limits;
    limits.maximumConnections = 2;
    limits.ioTimeout = std::chrono::hours(1);
    start(true, limits);
    Client silent(socketPath);
    silent.send(Framing::encodeHeader(10) + "abc");
    Client busy(socketPath);
    busy.send(request);
    EXPECT_TRUE(busy.reply()) << "served while the silent client holds the other slot";
}

TEST_F(ProxyHelperServerIntegration, ASilentClientIsDropped)
{
    ProxyHelperServer::Limits limits;
    limits.ioTimeout = 400ms;
    start(true, limits);
    Client silent(socketPath);
    silent.send(Framing::encodeHeader(10) + "abc");
    EXPECT_FALSE(silent.reply(30s));
    char byte = 0;
    EXPECT_EQ(::recv(silent.fd, &byte, 1, MSG_DONTWAIT), 0) << "closed by the helper, not kept for ever";
}

TEST_F(ProxyHelperServerIntegration, ConcurrentRequestsRunTheirLinesOneRequestAtATime)
{
    // A tool that logs each run's service and takes a while, so overlapping requests would
    // interleave their lines in the log.
    const fs::path log = dir.path() / "runs.log";
    const fs::path slowTool = dir.path() / "slow-networksetup";
    writeScript(slowTool, "echo \"$2\" >> '" + log.string() + "'\n/bin/sleep 0.1\n");
    start(true, {}, slowTool.string());
    const auto linesFor = [](const std::string &service) {
        return Framing::frame(requestJson(
            { { tool, "-setwebproxystate", service, "off" }, { tool, "-setsecurewebproxystate", service, "off" },
                { tool, "-setsocksfirewallproxystate", service, "off" } }));
    };
    Client first(socketPath);
    Client second(socketPath);
    first.send(linesFor("A"));
    second.send(linesFor("B"));
    ASSERT_TRUE(first.reply());
    ASSERT_TRUE(second.reply());

    std::ifstream in(log);
    std::string runs;
    for (std::string line; std::getline(in, line);)
        runs += line;
    EXPECT_TRUE(runs == "AAABBB" || runs == "BBBAAA") << runs;
}

TEST_F(ProxyHelperServerIntegration, OneUserStallingConnectionsLeavesRoomForAnother)
{
    if (!runningAsRoot())
        GTEST_SKIP() << "needs root: the two peers must run as two other users";
    // Stalled connections would be held far longer than the application waits for its reply.
    ProxyHelperServer::Limits limits;
    limits.ioTimeout = 30s;
    start(true, limits);
    Child stalled([&](int ready) {
        becomeUser(nobody);
        for (int i = 0; i < 24; ++i)
            if (connectTo(socketPath) < 0)
                ::_exit(3);
        [[maybe_unused]] ssize_t n = ::write(ready, "x", 1);
        ::pause();
    });
    ASSERT_TRUE(stalled.ready()) << "the stalled connections were not all made";

    const fs::path client = dir.path() / "client";
    copyExecutable(VEYRA_TEST_CLIENT, client);
    const fs::path requestFile = dir.path() / "request.json";
    writeFile(requestFile, requestText);
    // The client gives up after a few seconds, far less than the stalled connections are held.
    ToolOutcome other = runClient(client, socketPath, requestFile, nobody - 1);
    ASSERT_EQ(other.exitStatus, 0) << other.standardError;
    EXPECT_TRUE(veyra::ipc::ProxyHelperResponse::decode(other.standardOutput).success);
}
