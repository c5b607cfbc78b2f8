#include "Errors.h"
#include "KernelTestSupport.h"
#include "LocalHttpServer.h"
#include "MihomoManager.h"
#include "TestSupport.h"

#include <QCoroTimer>
#include <QWebSocket>
#include <QWebSocketServer>

namespace veyra {
namespace {

using namespace veyra::test;

// The manager against a scripted local controller, for answers a real kernel never gives.
class ControllerClientIntegration : public ::testing::Test {
protected:
    ControllerClientIntegration()
        : manager(QStringLiteral("https://check.example/generate_204"))
    {
        settings.controllerPort = server.port();
    }

    LocalHttpServer server;
    MihomoManager manager;
    AppSettings settings;
};

TEST_F(ControllerClientIntegration, SendsTheBearerSecretAndReturnsTheBody)
{
    server.route("/configs", { 200, {}, "{\"mode\":\"rule\"}" });
    const QByteArray body = await(manager.controller(QStringLiteral("configs"), "GET", std::nullopt, settings));
    EXPECT_EQ(body, "{\"mode\":\"rule\"}");
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests()[0].headers.value("authorization"), "Bearer " + manager.controllerSecret().toUtf8());
}

TEST_F(ControllerClientIntegration, RefusesAnswersOverFourMebibytes)
{
    server.route("/big", { 200, {}, QByteArray(4 * 1024 * 1024 + 1, 'x') });
    server.route("/exact", { 200, {}, QByteArray(4 * 1024 * 1024, 'x') });
    EXPECT_EQ(errorText(manager.controller(QStringLiteral("big"), "GET", std::nullopt, settings)),
        QStringLiteral("本地控制响应过大。"));
    EXPECT_EQ(
        await(manager.controller(QStringLiteral("exact"), "GET", std::nullopt, settings)).size(), 4 * 1024 * 1024);
}

TEST_F(ControllerClientIntegration, TreatsEveryNon2xxStatusAsAFailedRequest)
{
    server.route("/denied", { 401, {}, "{\"message\":\"Unauthorized\"}" });
    server.route("/moved", { 302, { { "Location", "http://127.0.0.1:1/" } }, {} });
    server.route("/bigerror", { 500, {}, QByteArray(5 * 1024 * 1024, 'x') });
    for (const char *path : { "denied", "moved", "bigerror" })
        EXPECT_EQ(errorText(manager.controller(QString::fromLatin1(path), "GET", std::nullopt, settings)),
            QStringLiteral("Mihomo 本地控制请求失败。"))
            << path;
}

TEST_F(ControllerClientIntegration, PassesTransportErrorsThrough)
{
    settings.controllerPort = freePort();
    try {
        await(manager.controller(QStringLiteral("configs"), "GET", std::nullopt, settings));
        FAIL() << "nothing listens there";
    } catch (const SystemError &error) {
        EXPECT_FALSE(error.description().isEmpty());
    }
}

TEST_F(ControllerClientIntegration, RefusesAddressesThatDoNotParse)
{
    EXPECT_EQ(errorText(manager.controller(QStringLiteral("bad path"), "GET", std::nullopt, settings)),
        QStringLiteral("本地控制地址无效。"));
    settings.controllerPort = 70000;
    EXPECT_EQ(errorText(manager.controller(QStringLiteral("configs"), "GET", std::nullopt, settings)),
        QStringLiteral("本地控制地址无效。"));
    EXPECT_EQ(errorText(manager.nextTrafficSample(settings)), QStringLiteral("本地流量统计地址无效。"));
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(ControllerClientIntegration, ListsGroupMembersWithoutTheReservedNames)
{
    server.route("/proxies/%E7%BB%B4%E6%8B%89%E7%BD%91%E7%BB%9C",
        { 200, {}, R"({"all":["智能优选","DIRECT","香港 A","REJECT","PASS","B"],"now":"B"})" });
    const QList<NodeItem> nodes = await(manager.nodes(settings));
    ASSERT_EQ(nodes.size(), 2);
    EXPECT_EQ(nodes[0],
        (NodeItem {
            QStringLiteral("香港 A"), QStringLiteral("香港"), QStringLiteral("🇭🇰"), -1, QStringLiteral("维拉官方") }));
    EXPECT_EQ(nodes[1].name, QStringLiteral("B"));
    EXPECT_EQ(nodes[1].region, QStringLiteral("其他地区"));
}

TEST_F(ControllerClientIntegration, AGroupWithoutAMemberListIsNotLoaded)
{
    const QString notLoaded = QStringLiteral("线路组尚未加载。");
    for (const QByteArray &body :
        { QByteArray(R"({"now":"x"})"), QByteArray(R"({"all":["a",1]})"), QByteArray("[]") }) {
        server.route("/proxies/%E7%BB%B4%E6%8B%89%E7%BD%91%E7%BB%9C", { 200, {}, body });
        EXPECT_EQ(errorText(manager.nodes(settings)), notLoaded) << body.constData();
    }
}

TEST_F(ControllerClientIntegration, LatencyTestsAskForTheGroupAndNeedIntegerDelays)
{
    const QByteArray path = "/group/%E7%BB%B4%E6%8B%89%E7%BD%91%E7%BB%9C/delay";
    server.route(path, { 200, {}, R"({"A":12,"B":300})" });
    const QMap<QString, qint64> delays = await(manager.testLatencies(settings));
    EXPECT_EQ(delays, (QMap<QString, qint64> { { QStringLiteral("A"), 12 }, { QStringLiteral("B"), 300 } }));
    EXPECT_TRUE(server.requests().last().target.endsWith("/delay?timeout=8000&url=https://check.example/generate_204"))
        << server.requests().last().target.constData();

    for (const QByteArray &body :
        { QByteArray(R"({"A":"12"})"), QByteArray(R"({"A":1.5})"), QByteArray("[1]"), QByteArray("oops") }) {
        server.route(path, { 200, {}, body });
        EXPECT_EQ(errorText(manager.testLatencies(settings)), QStringLiteral("测速接口没有返回有效结果。"))
            << body.constData();
    }
}

// A scripted traffic endpoint: each connection gets the next list of messages.
class TrafficEndpoint : public QObject {
public:
    explicit TrafficEndpoint(QList<QList<QByteArray>> script)
        : m_server(QStringLiteral("traffic"), QWebSocketServer::NonSecureMode)
        , m_script(std::move(script))
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QWebSocketServer::newConnection, this, [this] {
            QWebSocket *socket = m_server.nextPendingConnection();
            socket->setParent(this);
            authorizations << socket->request().rawHeader("Authorization");
            paths << socket->requestUrl().path();
            connect(socket, &QWebSocket::disconnected, this, [this, socket] { closeCodes << socket->closeCode(); });
            for (const QByteArray &message : m_script.value(connections))
                socket->sendTextMessage(QString::fromUtf8(message));
            ++connections;
        });
    }
    quint16 port() const { return m_server.serverPort(); }

    int connections = 0;
    QList<QByteArray> authorizations;
    QStringList paths;
    QList<int> closeCodes;

private:
    QWebSocketServer m_server;
    QList<QList<QByteArray>> m_script;
};

TEST_F(ControllerClientIntegration, TrafficStreamStaysOpenAndReconnectsAfterABadMessage)
{
    TrafficEndpoint endpoint({ { R"({"up":1,"down":2})", QByteArray(4097, ' '), R"({"up":5,"down":6})" },
        { "not json", R"({"up":3,"down":4})" }, { R"({"up":7,"down":8})" } });
    settings.controllerPort = endpoint.port();

    EXPECT_EQ(await(manager.nextTrafficSample(settings)), (TrafficRateSample { 1, 2 }));
    EXPECT_EQ(errorText(manager.nextTrafficSample(settings)), QStringLiteral("本地流量统计数据无效。"));
    // The stream was dropped with the bad message, so the next sample comes from a new one.
    EXPECT_EQ(errorText(manager.nextTrafficSample(settings)), QStringLiteral("本地流量统计数据无效。"));
    EXPECT_EQ(await(manager.nextTrafficSample(settings)), (TrafficRateSample { 7, 8 }));
    EXPECT_EQ(endpoint.connections, 3);
    EXPECT_EQ(endpoint.paths.value(0), QStringLiteral("/traffic"));
    EXPECT_EQ(endpoint.authorizations.value(0), "Bearer " + manager.controllerSecret().toUtf8());
    for (int i = 0; i < 50 && endpoint.closeCodes.size() < 2; ++i)
        await(QCoro::sleepFor(std::chrono::milliseconds(20)));
    ASSERT_GE(endpoint.closeCodes.size(), 2);
    EXPECT_EQ(endpoint.closeCodes[0], 1001);
    EXPECT_EQ(endpoint.closeCodes[1], 1001);
}

TEST_F(ControllerClientIntegration, MessagesUpToTheLimitAreReadAndAnythingLargerIsInvalid)
{
    QByteArray padded = R"({"up":9,"down":10})";
    padded += QByteArray(4096 - padded.size(), ' ');
    // 70 KiB is beyond what the socket itself accepts: that refusal is bad data as well, not a
    // transport failure.
    TrafficEndpoint endpoint({ { padded, QByteArray(70 * 1024, ' ') }, { R"({"up":1,"down":1})" } });
    settings.controllerPort = endpoint.port();
    EXPECT_EQ(await(manager.nextTrafficSample(settings)), (TrafficRateSample { 9, 10 }));
    EXPECT_EQ(errorText(manager.nextTrafficSample(settings)), QStringLiteral("本地流量统计数据无效。"));
    EXPECT_EQ(await(manager.nextTrafficSample(settings)), (TrafficRateSample { 1, 1 }));
}

} // namespace
} // namespace veyra
