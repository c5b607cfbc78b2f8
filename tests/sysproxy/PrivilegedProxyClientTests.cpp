#include "PrivilegedProxyClient.h"
#include "ProxyReplyGate.h"
#include "SysproxyTestSupport.h"

#include "Errors.h"
#include "TestSupport.h"

#include "veyra/ipc/Framing.h"
#include "veyra/ipc/ProxyHelperErrors.h"

#include <QCoroTimer>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTemporaryDir>

#include <atomic>
#include <thread>

using namespace veyra;
using namespace std::chrono_literals;

namespace {

const ipc::CommandList oneLine = { { "/usr/sbin/networksetup", "-setwebproxystate", "Wi-Fi", "on" } };

// A scripted stand-in for the helper on the test's own event loop: it records each request
// and answers with `reply` (framed), answers nothing when `reply` is empty, or closes the
// connection at once when `closeWithoutReply` is set.
class ScriptedHelper : public QObject {
public:
    ScriptedHelper()
    {
        m_server.setSocketOptions(QLocalServer::WorldAccessOption);
        EXPECT_TRUE(m_server.listen(m_dir.path() + QStringLiteral("/helper.sock")));
        QObject::connect(&m_server, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket *socket = m_server.nextPendingConnection()) {
                ++connections;
                m_last = socket;
                if (closeWithoutReply) {
                    socket->abort();
                    continue;
                }
                QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
                    m_reader.feed(socket->readAll().toStdString());
                    if (m_reader.status() == ipc::Framing::FrameReader::Status::complete) {
                        requests.push_back(QByteArray::fromStdString(m_reader.payload()));
                        m_reader = ipc::Framing::FrameReader();
                        if (!reply.isEmpty())
                            socket->write(QByteArray::fromStdString(ipc::Framing::frame(reply.toStdString())));
                    }
                });
                QObject::connect(socket, &QLocalSocket::disconnected, socket, [this] { ++disconnects; });
            }
        });
    }
    QString path() const { return m_server.fullServerName(); }
    QLocalSocket *lastConnection() const { return m_last; }

    QByteArray reply;
    bool closeWithoutReply = false;
    int connections = 0;
    int disconnects = 0;
    std::vector<QByteArray> requests;

private:
    QTemporaryDir m_dir;
    QLocalServer m_server;
    ipc::Framing::FrameReader m_reader;
    QPointer<QLocalSocket> m_last;
};

// The message of whatever `execute` throws, or nothing when it succeeds.
std::optional<QString> failureOf(PrivilegedProxyClient &client, ipc::CommandList commands)
{
    try {
        test::awaitTask(client.execute(std::move(commands)));
        return std::nullopt;
    } catch (const std::exception &error) {
        return describe(error);
    }
}

void spin(std::chrono::milliseconds duration)
{
    test::awaitTask([](std::chrono::milliseconds d) -> QCoro::Task<void> { co_await QCoro::sleepFor(d); }(duration));
}

} // namespace

TEST(ProxyReplyGate, OnlyTheFirstFinishIsDelivered)
{
    int deliveries = 0;
    QByteArray seen;
    ProxyReplyGate gate([&](ProxyReplyGate::Result result) {
        ++deliveries;
        seen = std::get<QByteArray>(result);
    });
    EXPECT_FALSE(gate.isFinished());
    EXPECT_TRUE(gate.finish(QByteArray("first")));
    EXPECT_FALSE(gate.finish(std::make_exception_ptr(AppError(QStringLiteral("late")))));
    EXPECT_FALSE(gate.finish(QByteArray("second")));
    EXPECT_TRUE(gate.isFinished());
    EXPECT_EQ(deliveries, 1);
    EXPECT_EQ(seen, "first");
}

TEST(ProxyReplyGate, RacingThreadsResumeExactlyOnce)
{
    for (int round = 0; round < 50; ++round) {
        std::atomic<int> deliveries { 0 };
        ProxyReplyGate gate([&](ProxyReplyGate::Result) { ++deliveries; });
        std::atomic<int> wins { 0 };
        std::vector<std::thread> racers;
        for (int i = 0; i < 4; ++i)
            racers.emplace_back([&] {
                if (gate.finish(QByteArray("x")))
                    ++wins;
            });
        for (auto &racer : racers)
            racer.join();
        ASSERT_EQ(deliveries.load(), 1);
        ASSERT_EQ(wins.load(), 1);
    }
}

TEST(PrivilegedProxyClient, SendsOneFramedRequestAndAcceptsSuccess)
{
    ScriptedHelper helper;
    helper.reply = R"({"success":true,"message":"系统代理设置已更新。"})";
    PrivilegedProxyClient client(helper.path());
    EXPECT_EQ(failureOf(client, oneLine), std::nullopt);
    ASSERT_EQ(helper.requests.size(), 1u);
    EXPECT_EQ(helper.requests[0].toStdString(), ipc::ProxyHelperRequest { oneLine }.encode());
    spin(50ms);
    EXPECT_EQ(helper.disconnects, 1) << "the connection is closed after the reply";
}

TEST(PrivilegedProxyClient, GrammarAndSizeAreCheckedBeforeConnecting)
{
    ScriptedHelper helper;
    PrivilegedProxyClient client(helper.path());
    EXPECT_THROW(test::awaitTask(client.execute({})), ipc::ProxyHelperValidationError);
    EXPECT_EQ(failureOf(client, {}), QStringLiteral("代理命令数量无效。"));

    // Valid lines whose encoding exceeds the limit: 128 bypass lines of long domains.
    ipc::CommandLine bypass = { "/usr/sbin/networksetup", "-setproxybypassdomains", "Wi-Fi" };
    for (int i = 0; i < 10; ++i)
        bypass.push_back(std::string(200, 'd') + ".example");
    EXPECT_EQ(failureOf(client, ipc::CommandList(128, bypass)), QStringLiteral("系统代理请求超过安全大小限制。"));
    spin(50ms);
    EXPECT_EQ(helper.connections, 0);
}

TEST(PrivilegedProxyClient, HelperFailureMessageIsThrownUnchanged)
{
    ScriptedHelper helper;
    helper.reply = R"({"success":false,"message":"后台服务返回数据失败。"})";
    PrivilegedProxyClient client(helper.path());
    try {
        test::awaitTask(client.execute(oneLine));
        FAIL() << "expected an error";
    } catch (const AppError &error) {
        EXPECT_EQ(error.description(), QStringLiteral("后台服务返回数据失败。"));
    }
}

TEST(PrivilegedProxyClient, ReplyThatIsNotARecordIsADecodingErrorAndTheConnectionCloses)
{
    ScriptedHelper helper;
    helper.reply = "not json";
    PrivilegedProxyClient client(helper.path());
    EXPECT_THROW(test::awaitTask(client.execute(oneLine)), SystemError);
    helper.reply = R"({"success":true})";
    EXPECT_THROW(test::awaitTask(client.execute(oneLine)), SystemError);
    spin(50ms);
    EXPECT_EQ(helper.disconnects, 2);
}

TEST(PrivilegedProxyClient, ConnectionErrorsPassThroughQuickly)
{
    QTemporaryDir dir;
    PrivilegedProxyClient missing(dir.path() + QStringLiteral("/absent.sock"));
    QElapsedTimer clock;
    clock.start();
    auto message = failureOf(missing, oneLine);
    ASSERT_TRUE(message);
    EXPECT_FALSE(message->isEmpty());
    EXPECT_NE(*message, QStringLiteral("后台网络服务响应超时。"));
    EXPECT_LT(clock.elapsed(), 2000);

    ScriptedHelper refusing;
    refusing.closeWithoutReply = true;
    PrivilegedProxyClient refused(refusing.path());
    clock.restart();
    message = failureOf(refused, oneLine);
    ASSERT_TRUE(message);
    EXPECT_NE(*message, QStringLiteral("后台网络服务响应超时。"));
    EXPECT_LT(clock.elapsed(), 2000);
}

TEST(PrivilegedProxyClient, GivesUpAfterTwelveSecondsAndIgnoresALateReply)
{
    ScriptedHelper helper; // records the request but never answers
    PrivilegedProxyClient client(helper.path());
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(failureOf(client, oneLine), QStringLiteral("后台网络服务响应超时。"));
    EXPECT_GE(clock.elapsed(), 12'000);
    EXPECT_LT(clock.elapsed(), 14'000);
    ASSERT_EQ(helper.requests.size(), 1u);

    // The reply arrives after the caller has given up: nothing is resumed twice.
    if (QLocalSocket *late = helper.lastConnection())
        late->write(QByteArray::fromStdString(ipc::Framing::frame(R"({"success":true,"message":"x"})")));
    spin(200ms);
    helper.reply = R"({"success":false,"message":"第二次"})";
    EXPECT_EQ(failureOf(client, oneLine), QStringLiteral("第二次"));
}
