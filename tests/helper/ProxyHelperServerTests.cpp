#include "HelperTestSupport.h"
#include "ProxyHelperServer.h"

#include "veyra/ipc/Framing.h"
#include "veyra/ipc/ProxyHelperRecords.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace veyra::helper;
using namespace veyra::helper::test;
using namespace std::chrono_literals;
using veyra::ipc::ProxyHelperResponse;
namespace Framing = veyra::ipc::Framing;

namespace {

class CountingAuthorizer : public PeerAuthorizer {
public:
    CountingAuthorizer(bool allow, std::atomic<int> &calls)
        : m_allow(allow)
        , m_calls(calls)
    {
    }
    bool authorize(int) override
    {
        ++m_calls;
        return m_allow;
    }

private:
    bool m_allow;
    std::atomic<int> &m_calls;
};

int connectTo(const fs::path &path)
{
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un address { };
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<struct sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void sendAll(int fd, const std::string &bytes)
{
    ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

// The reply payload, or nothing when the server closed first or `limit` passed.
std::optional<std::string> readReply(int fd, std::chrono::milliseconds limit = 5s)
{
    Framing::FrameReader reader;
    char buffer[4096];
    while (reader.status() == Framing::FrameReader::Status::needMore) {
        struct pollfd wait = { fd, POLLIN, 0 };
        if (::poll(&wait, 1, static_cast<int>(limit.count())) <= 0)
            return std::nullopt;
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return std::nullopt;
        reader.feed(std::string_view(buffer, static_cast<std::size_t>(n)));
    }
    return reader.payload();
}

// Waits for the server to close; true if it did within `limit`.
bool closedWithin(int fd, std::chrono::milliseconds limit)
{
    struct pollfd wait = { fd, POLLIN, 0 };
    if (::poll(&wait, 1, static_cast<int>(limit.count())) <= 0)
        return false;
    char byte;
    return ::recv(fd, &byte, 1, 0) == 0;
}

class ProxyHelperServerTest : public ::testing::Test {
protected:
    void start(bool allow, ProxyHelperServer::Limits limits)
    {
        socketPath = dir.path() / "helper.sock";
        server = std::make_unique<ProxyHelperServer>(bindListeningSocket(socketPath),
            ProxyHelperService(VEYRA_NETWORKSETUP_EXECUTABLE),
            std::make_unique<CountingAuthorizer>(allow, authorizations), limits);
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
    fs::path socketPath;
    std::atomic<int> authorizations { 0 };
    std::unique_ptr<ProxyHelperServer> server;
    std::thread thread;
};

const std::string webOnRequest = requestJson({ { tool, "-setwebproxystate", "Wi-Fi", "on" } });

} // namespace

TEST_F(ProxyHelperServerTest, OneRequestOneReplyThenClose)
{
    start(true, {});
    int fd = connectTo(socketPath);
    ASSERT_GE(fd, 0);
    sendAll(fd, Framing::frame(webOnRequest));
    auto reply = readReply(fd);
    ASSERT_TRUE(reply);
    EXPECT_TRUE(ProxyHelperResponse::decode(*reply).success);
    EXPECT_TRUE(closedWithin(fd, 2s));
    ::close(fd);
    EXPECT_EQ(state.service("Wi-Fi")["web"]["enabled"], true);
}

TEST_F(ProxyHelperServerTest, SocketIsConnectableByEveryone)
{
    start(true, {});
    EXPECT_EQ(fs::status(socketPath).permissions() & fs::perms::all, fs::perms(0666));
}

TEST_F(ProxyHelperServerTest, RefusedPeerIsClosedWithoutReplyAndNothingRuns)
{
    start(false, {});
    int fd = connectTo(socketPath);
    ASSERT_GE(fd, 0);
    ::send(fd, Framing::frame(webOnRequest).data(), Framing::frame(webOnRequest).size(), MSG_NOSIGNAL);
    EXPECT_FALSE(readReply(fd));
    ::close(fd);
    EXPECT_EQ(authorizations.load(), 1);
    EXPECT_TRUE(state.history().empty());
}

TEST_F(ProxyHelperServerTest, OversizedHeaderIsAnsweredWithoutReadingTheBody)
{
    start(true, {});
    int fd = connectTo(socketPath);
    ASSERT_GE(fd, 0);
    sendAll(fd, Framing::encodeHeader(131073));
    auto reply = readReply(fd);
    ASSERT_TRUE(reply);
    EXPECT_EQ(ProxyHelperResponse::decode(*reply).message, "后台服务请求超过大小限制。");
    ::close(fd);
}

TEST_F(ProxyHelperServerTest, SilentClientIsDroppedAfterTheTimeOut)
{
    start(true, { 4, 300ms });
    int fd = connectTo(socketPath);
    ASSERT_GE(fd, 0);
    sendAll(fd, Framing::encodeHeader(10) + "abc"); // a partial request, then silence
    auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(closedWithin(fd, 3s));
    EXPECT_GE(std::chrono::steady_clock::now() - started, 250ms);
    ::close(fd);
}

TEST_F(ProxyHelperServerTest, ConnectionsAreServedConcurrentlyUpToTheLimit)
{
    start(true, { 2, 1500ms });
    int silent = connectTo(socketPath);
    ASSERT_GE(silent, 0);
    int busy = connectTo(socketPath);
    ASSERT_GE(busy, 0);
    sendAll(busy, Framing::frame(webOnRequest));
    auto reply = readReply(busy, 1000ms);
    EXPECT_TRUE(reply) << "a silent client must not stall another one";
    ::close(busy);
    ::close(silent);
}

TEST_F(ProxyHelperServerTest, ClientsBeyondTheLimitWaitForAFreeSlot)
{
    start(true, { 1, 600ms });
    int silent = connectTo(socketPath);
    ASSERT_GE(silent, 0);
    std::this_thread::sleep_for(100ms);
    int waiting = connectTo(socketPath);
    ASSERT_GE(waiting, 0);
    auto started = std::chrono::steady_clock::now();
    sendAll(waiting, Framing::frame(webOnRequest));
    auto reply = readReply(waiting, 5s);
    EXPECT_TRUE(reply);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 300ms);
    ::close(waiting);
    ::close(silent);
}

TEST(BindListeningSocket, ReplacesAStaleSocketButNeverAnotherFile)
{
    TempDir dir;
    const fs::path path = dir.path() / "helper.sock";
    int first = bindListeningSocket(path);
    ::close(first);
    int second = bindListeningSocket(path);
    EXPECT_GE(second, 0);
    ::close(second);

    const fs::path file = dir.path() / "regular";
    writeFile(file, "keep me");
    EXPECT_THROW(bindListeningSocket(file), std::system_error);
    EXPECT_TRUE(fs::exists(file));
}
