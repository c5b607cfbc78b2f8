#include "PrivilegedProxyClient.h"
#include "ProxyReplyGate.h"
#include "SysproxyTestSupport.h"

#include "Errors.h"
#include "TestSupport.h"

#include "veyra/ipc/Framing.h"

#include <QCoroTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>

using namespace veyra;
using namespace std::chrono_literals;

namespace {

const ipc::CommandList oneLine = { { "/usr/sbin/networksetup", "-setwebproxystate", "Wi-Fi", "on" } };

// A scripted helper on the test's event loop: counts connections and requests and answers
// each request with `reply`, or never when `reply` is empty.
class ScriptedHelper {
public:
    ScriptedHelper()
    {
        EXPECT_TRUE(m_server.listen(m_dir.path() + QStringLiteral("/helper.sock")));
        QObject::connect(&m_server, &QLocalServer::newConnection, &m_server, [this] {
            while (QLocalSocket *socket = m_server.nextPendingConnection()) {
                ++connections;
                last = socket;
                QObject::connect(socket, &QLocalSocket::disconnected, socket, [this] { ++disconnects; });
                QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
                    m_reader.feed(socket->readAll().toStdString());
                    if (m_reader.status() != ipc::Framing::FrameReader::Status::complete)
                        return;
                    requests.push_back(m_reader.payload());
                    m_reader = ipc::Framing::FrameReader();
                    if (!reply.empty())
                        socket->write(QByteArray::fromStdString(ipc::Framing::frame(reply)));
                });
            }
        });
    }
    QString path() const { return m_server.fullServerName(); }

    std::string reply;
    int connections = 0;
    int disconnects = 0;
    std::vector<std::string> requests;
    QPointer<QLocalSocket> last;

private:
    QTemporaryDir m_dir;
    QLocalServer m_server;
    ipc::Framing::FrameReader m_reader;
};

std::optional<QString> failureOf(PrivilegedProxyClient &client, ipc::CommandList commands)
{
    try {
        test::await(client.execute(std::move(commands)));
        return std::nullopt;
    } catch (const std::exception &error) {
        return describe(error);
    }
}

void spin(std::chrono::milliseconds duration)
{
    test::await([](std::chrono::milliseconds d) -> QCoro::Task<void> { co_await QCoro::sleepFor(d); }(duration));
}

} // namespace

TEST(ProxyReplyGate, OnlyTheFirstFinishIsDelivered)
{
    std::vector<QByteArray> delivered;
    ProxyReplyGate gate([&](ProxyReplyGate::Result result) { delivered.push_back(std::get<QByteArray>(result)); });
    EXPECT_TRUE(gate.finish(QByteArray("reply")));
    EXPECT_FALSE(gate.finish(std::make_exception_ptr(AppError(QStringLiteral("后台网络服务响应超时。")))));
    EXPECT_FALSE(gate.finish(QByteArray("late")));
    EXPECT_EQ(delivered, std::vector<QByteArray> { "reply" });
}

TEST(PrivilegedProxyClientIntegration, OneFramedRequestPerCallThenClose)
{
    ScriptedHelper helper;
    helper.reply = R"({"success":true,"message":"系统代理设置已更新。"})";
    PrivilegedProxyClient client(helper.path());
    EXPECT_EQ(failureOf(client, oneLine), std::nullopt);
    EXPECT_EQ(helper.requests, std::vector<std::string> { ipc::ProxyHelperRequest { oneLine }.encode() });
    helper.reply = R"({"success":false,"message":"后台服务返回数据失败。"})";
    EXPECT_EQ(failureOf(client, oneLine), QStringLiteral("后台服务返回数据失败。"));
    helper.reply = "not json";
    EXPECT_THROW(test::await(client.execute(oneLine)), SystemError);
    spin(50ms);
    EXPECT_EQ(helper.connections, 3);
    EXPECT_EQ(helper.disconnects, 3);
}

TEST(PrivilegedProxyClientIntegration, GrammarAndSizeAreCheckedBeforeConnecting)
{
    ScriptedHelper helper;
    PrivilegedProxyClient client(helper.path());
    EXPECT_EQ(failureOf(client, {}), QStringLiteral("代理命令数量无效。"));
    ipc::CommandLine bypass = { "/usr/sbin/networksetup", "-setproxybypassdomains", "Wi-Fi" };
    bypass.resize(13, std::string(200, 'd'));
    EXPECT_EQ(failureOf(client, ipc::CommandList(128, bypass)), QStringLiteral("系统代理请求超过安全大小限制。"));
    spin(50ms);
    EXPECT_EQ(helper.connections, 0);
}

TEST(PrivilegedProxyClientIntegration, MissingHelperFailsAtOnceWithTheConnectionError)
{
    QTemporaryDir dir;
    // Were the missing socket waited for, the reply time-out would end this, as a time-out.
    PrivilegedProxyClient client(dir.path() + QStringLiteral("/absent.sock"), std::chrono::hours(1));
    EXPECT_THROW(test::await(client.execute(oneLine)), SystemError);
}

TEST(PrivilegedProxyClientIntegration, GivesUpWithoutAReplyAndIgnoresALateOne)
{
    ScriptedHelper helper; // takes the request, never answers
    PrivilegedProxyClient client(helper.path(), 300ms);
    EXPECT_EQ(failureOf(client, oneLine), QStringLiteral("后台网络服务响应超时。"));
    ASSERT_TRUE(helper.last);
    helper.last->write(QByteArray::fromStdString(ipc::Framing::frame(R"({"success":true,"message":"x"})")));
    spin(200ms);
    helper.reply = R"({"success":false,"message":"第二次"})";
    EXPECT_EQ(failureOf(client, oneLine), QStringLiteral("第二次")) << "the late reply resumed nothing";
}
