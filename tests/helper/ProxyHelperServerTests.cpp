#include "HelperTestSupport.h"
#include "ProxyHelperServer.h"

#include "veyra/ipc/Framing.h"
#include "veyra/ipc/ProxyHelperRecords.h"

#include <atomic>
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
namespace Framing = veyra::ipc::Framing;

namespace {

class FixedAuthorizer : public PeerAuthorizer {
public:
    explicit FixedAuthorizer(bool allow)
        : m_allow(allow)
    {
    }
    bool authorize(int) override { return m_allow; }

private:
    bool m_allow;
};

// A raw client: connect, optionally send, then the reply or nothing if the server closed
// first (or `limit` passed).
struct Client {
    explicit Client(const fs::path &path)
    {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        struct sockaddr_un address { };
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        EXPECT_EQ(::connect(fd, reinterpret_cast<struct sockaddr *>(&address), sizeof address), 0);
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

class ProxyHelperServerTest : public ::testing::Test {
protected:
    void start(bool allow, ProxyHelperServer::Limits limits = {})
    {
        server = std::make_unique<ProxyHelperServer>(bindListeningSocket(socketPath),
            ProxyHelperService(VEYRA_NETWORKSETUP_EXECUTABLE), std::make_unique<FixedAuthorizer>(allow), limits);
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
    const std::string request = Framing::frame(requestJson({ { tool, "-setwebproxystate", "Wi-Fi", "on" } }));
};

} // namespace

TEST_F(ProxyHelperServerTest, OneRequestOneReplyOnAWorldConnectableSocket)
{
    start(true);
    EXPECT_EQ(fs::status(socketPath).permissions() & fs::perms::all, fs::perms(0666));
    Client client(socketPath);
    client.send(request);
    auto reply = client.reply();
    ASSERT_TRUE(reply);
    EXPECT_TRUE(veyra::ipc::ProxyHelperResponse::decode(*reply).success);
    EXPECT_FALSE(client.reply()) << "the helper closes after its one reply";
}

TEST_F(ProxyHelperServerTest, RefusedPeerIsClosedWithoutReplyAndNothingRuns)
{
    start(false);
    Client client(socketPath);
    client.send(request);
    EXPECT_FALSE(client.reply());
    EXPECT_TRUE(state.history().empty());
}

TEST_F(ProxyHelperServerTest, OversizedHeaderIsAnsweredWithoutTheBody)
{
    start(true);
    Client client(socketPath);
    client.send(Framing::encodeHeader(131073));
    auto reply = client.reply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(veyra::ipc::ProxyHelperResponse::decode(*reply).message, "后台服务请求超过大小限制。");
}

TEST_F(ProxyHelperServerTest, SilentClientIsDroppedAndDoesNotStallOthers)
{
    start(true, { 2, 400ms });
    Client silent(socketPath);
    silent.send(Framing::encodeHeader(10) + "abc"); // a partial request, then nothing
    Client busy(socketPath);
    busy.send(request);
    EXPECT_TRUE(busy.reply(300ms)) << "served while the silent client holds the other slot";
    auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(silent.reply(3s));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s) << "dropped after the time-out, not kept for ever";
}

TEST(BindListeningSocket, NeverReplacesAFileThatIsNotASocket)
{
    TempDir dir;
    writeFile(dir.path() / "regular", "keep me");
    EXPECT_THROW(bindListeningSocket(dir.path() / "regular"), std::system_error);
    EXPECT_TRUE(fs::exists(dir.path() / "regular"));
}
