#include "KernelTestSupport.h"
#include "LocalHttpServer.h"
#include "MihomoManager.h"

#include <QWebSocket>
#include <QWebSocketServer>

namespace veyra {
namespace {

using namespace veyra::test;

// The manager against a scripted local controller, for answers a real kernel never gives.
class ControllerClientIntegration : public ::testing::Test {
protected:
    void SetUp() override { settings.controllerPort = server.port(); }

    LocalHttpServer server;
    MihomoManager manager { QStringLiteral("https://check.example/generate_204") };
    AppSettings settings;
};

// The bearer secret goes with every request; a body of up to 4 MiB with a 2xx status is the
// answer, anything else a failed request, and an address that does not parse is never sent.
TEST_F(ControllerClientIntegration, SendsTheSecretAndAcceptsOnlyBounded2xxAnswers)
{
    server.route("/configs", { 200, {}, "{\"mode\":\"rule\"}" });
    server.route("/exact", { 200, {}, QByteArray(4 * 1024 * 1024, 'x') });
    EXPECT_EQ(
        await(manager.controller(QStringLiteral("configs"), "GET", std::nullopt, settings)), "{\"mode\":\"rule\"}");
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests()[0].headers.value("authorization"), "Bearer " + manager.controllerSecret().toUtf8());
    EXPECT_EQ(
        await(manager.controller(QStringLiteral("exact"), "GET", std::nullopt, settings)).size(), 4 * 1024 * 1024);

    server.route("/big", { 200, {}, QByteArray(4 * 1024 * 1024 + 1, 'x') });
    server.route("/denied", { 401, {}, "{\"message\":\"Unauthorized\"}" });
    server.route("/moved", { 302, { { "Location", "http://127.0.0.1:1/" } }, {} });
    server.route("/bigerror", { 500, {}, QByteArray(5 * 1024 * 1024, 'x') });
    const std::pair<const char *, const char *> refused[] = { { "big", "本地控制响应过大。" },
        { "denied", "Mihomo 本地控制请求失败。" }, { "moved", "Mihomo 本地控制请求失败。" },
        { "bigerror", "Mihomo 本地控制请求失败。" }, { "bad path", "本地控制地址无效。" } };
    for (const auto &[path, text] : refused)
        EXPECT_EQ(errorText(manager.controller(QString::fromLatin1(path), "GET", std::nullopt, settings)),
            QString::fromUtf8(text))
            << path;
    const qsizetype sent = server.requests().size();
    settings.controllerPort = 70000;
    EXPECT_EQ(errorText(manager.controller(QStringLiteral("configs"), "GET", std::nullopt, settings)),
        QStringLiteral("本地控制地址无效。"));
    EXPECT_EQ(errorText(manager.nextTrafficSample(settings)), QStringLiteral("本地流量统计地址无效。"));
    EXPECT_EQ(server.requests().size(), sent);

    // Transport errors pass through as they are.
    settings.controllerPort = freePort();
    EXPECT_THROW(await(manager.controller(QStringLiteral("configs"), "GET", std::nullopt, settings)), SystemError);
}

// The group's members without the reserved names, and their delays measured against the check
// address; refused bodies are the controller fuzz target's seeds.
TEST_F(ControllerClientIntegration, ListsGroupMembersWithoutTheReservedNamesAndMeasuresThem)
{
    const QByteArray group = "/proxies/%E7%BB%B4%E6%8B%89%E7%BD%91%E7%BB%9C";
    server.route(group, { 200, {}, R"({"all":["智能优选","DIRECT","香港 A","REJECT","PASS","B"],"now":"B"})" });
    const QList<NodeItem> nodes = await(manager.nodes(settings));
    ASSERT_EQ(nodes.size(), 2);
    EXPECT_EQ(nodes[0],
        (NodeItem {
            QStringLiteral("香港 A"), QStringLiteral("香港"), QStringLiteral("🇭🇰"), -1, QStringLiteral("维拉官方") }));
    EXPECT_EQ(nodes[1].name, QStringLiteral("B"));
    EXPECT_EQ(nodes[1].region, QStringLiteral("其他地区"));

    const QByteArray path = "/group/%E7%BB%B4%E6%8B%89%E7%BD%91%E7%BB%9C/delay";
    server.route(path, { 200, {}, R"({"A":12,"B":300})" });
    const QMap<QString, qint64> delays = await(manager.testLatencies(settings));
    EXPECT_EQ(delays, (QMap<QString, qint64> { { QStringLiteral("A"), 12 }, { QStringLiteral("B"), 300 } }));
    EXPECT_TRUE(server.requests().last().target.endsWith("/delay?timeout=8000&url=https://check.example/generate_204"))
        << server.requests().last().target.constData();
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

// The stream stays open between samples; a bad message (not JSON, or larger than 4 KiB, even one
// the socket itself refuses) is bad data and drops the stream, so the next sample comes from a
// new one. A dropped stream is closed as "going away".
TEST_F(ControllerClientIntegration, TrafficStreamStaysOpenAndReconnectsAfterABadMessage)
{
    QByteArray padded = R"({"up":9,"down":10})";
    padded += QByteArray(4096 - padded.size(), ' ');
    TrafficEndpoint endpoint({ { R"({"up":1,"down":2})", padded, QByteArray(4097, ' '), R"({"up":5,"down":6})" },
        { "not json", R"({"up":3,"down":4})" }, { QByteArray(70 * 1024, ' ') }, { R"({"up":7,"down":8})" } });
    settings.controllerPort = endpoint.port();

    EXPECT_EQ(await(manager.nextTrafficSample(settings)), (TrafficRateSample { 1, 2 }));
    EXPECT_EQ(await(manager.nextTrafficSample(settings)), (TrafficRateSample { 9, 10 }));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(errorText(manager.nextTrafficSample(settings)), QStringLiteral("本地流量统计数据无效。")) << i;
    EXPECT_EQ(await(manager.nextTrafficSample(settings)), (TrafficRateSample { 7, 8 }));
    EXPECT_EQ(endpoint.connections, 4);
    EXPECT_EQ(endpoint.paths.value(0), QStringLiteral("/traffic"));
    EXPECT_EQ(endpoint.authorizations.value(0), "Bearer " + manager.controllerSecret().toUtf8());
    ASSERT_TRUE(eventually([&] { return endpoint.closeCodes.size() >= 2; }));
    EXPECT_EQ(endpoint.closeCodes[0], 1001);
    EXPECT_EQ(endpoint.closeCodes[1], 1001);
}

} // namespace
} // namespace veyra
