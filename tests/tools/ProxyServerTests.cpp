#include "KernelTestSupport.h"
#include "LocalHttpServer.h"
#include "ProxyServer.h"
#include "TestSupport.h"

#include <QTcpServer>
#include <QTcpSocket>

namespace veyra {
namespace {

using namespace veyra::test;
using veyra::proxy::Endpoint;
using veyra::proxy::ProxyServer;
using veyra::proxy::Upstream;

const QByteArray hello = "hello through the proxy";

// The shared proxy library on its own, driven by the real curl.
class ProxyServerIntegration : public ::testing::Test {
protected:
    ProxyServerIntegration()
    {
        origin.route("/hello", { 200, {}, hello });
        origin.route("/big", { 200, {}, QByteArray(3 * 1024 * 1024, 'b') });
    }
    // curl through `proxy` (scheme://host:port) to `url`, with further options.
    ProgramResult curl(const QString &proxy, const QString &url, const QStringList &extra = {})
    {
        return await(runProgram(QStringLiteral("/usr/bin/curl"),
            QStringList { QStringLiteral("-s"), QStringLiteral("--max-time"), QStringLiteral("10"),
                QStringLiteral("--proxy"), proxy, url }
                + extra));
    }
    static QString at(const char *scheme, const ProxyServer &server)
    {
        return QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1String(scheme)).arg(server.port());
    }
    QString byName(const char *path = "/hello") const
    {
        return QStringLiteral("http://localhost:%1").arg(origin.port()) + QLatin1String(path);
    }

    LocalHttpServer origin;
};

TEST_F(ProxyServerIntegration, MixedPortSpeaksSocks5AndBothHttpFormsAndRelaysLargeBodies)
{
    ProxyServer server(ProxyServer::Protocols::mixed);
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    // socks5h hands the name to the proxy; -p makes curl tunnel with CONNECT.
    const std::tuple<const char *, QString, QStringList> runs[] = {
        { "socks5", origin.url("/hello"), {} },
        { "socks5h", byName(), {} },
        { "http", origin.url("/hello"), {} },
        { "http", origin.url("/hello"), { QStringLiteral("-p") } },
    };
    for (const auto &[scheme, url, extra] : runs)
        EXPECT_EQ(curl(at(scheme, server), url, extra).standardOutput, hello) << scheme << " " << extra.join(u' ').toStdString();
    EXPECT_EQ(server.acceptedConnections(), 4);
    EXPECT_GT(server.downloadedBytes(), 4 * hello.size());
    EXPECT_GT(server.uploadedBytes(), 0);
    EXPECT_EQ(curl(at("socks5h", server), origin.url("/big")).standardOutput, QByteArray(3 * 1024 * 1024, 'b'));
}

TEST_F(ProxyServerIntegration, ChainsThroughTheUpstreamTheRouterPicks)
{
    ProxyServer socksNode(ProxyServer::Protocols::socks5);
    ProxyServer httpNode(ProxyServer::Protocols::http);
    ProxyServer front(ProxyServer::Protocols::mixed);
    for (ProxyServer *server : { &socksNode, &httpNode, &front })
        ASSERT_TRUE(server->listen(QHostAddress::LocalHost, 0));
    QList<Endpoint> targets;
    front.setRouter([&](const Endpoint &target) {
        targets << target;
        Upstream upstream;
        upstream.kind = targets.size() == 1 ? Upstream::Kind::socks5 : Upstream::Kind::http;
        upstream.host = QStringLiteral("127.0.0.1");
        upstream.port = targets.size() == 1 ? socksNode.port() : httpNode.port();
        return upstream;
    });
    EXPECT_EQ(curl(at("http", front), byName()).standardOutput, hello);
    EXPECT_EQ(curl(at("socks5h", front), byName()).standardOutput, hello);
    EXPECT_EQ(socksNode.acceptedConnections(), 1);
    EXPECT_EQ(httpNode.acceptedConnections(), 1);
    ASSERT_EQ(targets.size(), 2);
    EXPECT_EQ(targets[0], (Endpoint { QStringLiteral("localhost"), origin.port() }));
}

TEST_F(ProxyServerIntegration, RejectedAndUnreachableTargetsGetProxyErrors)
{
    ProxyServer server(ProxyServer::Protocols::mixed);
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    server.setRouter([](const Endpoint &target) {
        return target.host == QLatin1String("localhost") ? Upstream::reject() : Upstream::direct();
    });
    const QStringList code { QStringLiteral("-o"), QStringLiteral("/dev/null"), QStringLiteral("-w"),
        QStringLiteral("%{http_code}") };
    EXPECT_EQ(curl(at("http", server), byName(), code).standardOutput, "403");
    EXPECT_EQ(curl(at("http", server), QStringLiteral("http://127.0.0.1:%1/").arg(freePort()), code).standardOutput,
        "502");
    EXPECT_NE(curl(at("socks5h", server), byName()).exitCode, 0);
}

TEST_F(ProxyServerIntegration, Socks5ReachesIpv6Targets)
{
    QTcpServer v6;
    if (!v6.listen(QHostAddress::LocalHostIPv6, 0))
        GTEST_SKIP() << "no IPv6 loopback here";
    QObject::connect(&v6, &QTcpServer::newConnection, &v6, [&v6] {
        QTcpSocket *socket = v6.nextPendingConnection();
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nv6");
        socket->disconnectFromHost();
    });
    ProxyServer server(ProxyServer::Protocols::socks5);
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    EXPECT_EQ(curl(at("socks5", server), QStringLiteral("http://[::1]:%1/").arg(v6.serverPort())).standardOutput, "v6");
}

} // namespace
} // namespace veyra
