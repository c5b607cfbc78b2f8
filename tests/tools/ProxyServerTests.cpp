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

// The shared proxy library on its own, driven by the real curl.
class ProxyServerIntegration : public ::testing::Test {
protected:
    ProxyServerIntegration()
    {
        origin.route("/hello", { 200, {}, "hello through the proxy" });
        origin.route("/big", { 200, {}, QByteArray(3 * 1024 * 1024, 'b') });
    }

    ProgramResult curl(const QStringList &arguments)
    {
        return await(runProgram(QStringLiteral("/usr/bin/curl"),
            QStringList { QStringLiteral("-s"), QStringLiteral("--max-time"), QStringLiteral("10") } + arguments));
    }

    static QString proxyAt(const char *scheme, const ProxyServer &server)
    {
        return QStringLiteral("%1://127.0.0.1:%2").arg(QString::fromLatin1(scheme)).arg(server.port());
    }

    LocalHttpServer origin;
};

TEST_F(ProxyServerIntegration, MixedPortSpeaksSocks5AndBothHttpForms)
{
    ProxyServer server(ProxyServer::Protocols::mixed);
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    const QString byName = QStringLiteral("http://localhost:%1/hello").arg(origin.port());
    // socks5h hands the name to the proxy; -p makes curl tunnel with CONNECT.
    const QStringList runs[] = {
        { QStringLiteral("--proxy"), proxyAt("socks5", server), origin.url("/hello") },
        { QStringLiteral("--proxy"), proxyAt("socks5h", server), byName },
        { QStringLiteral("--proxy"), proxyAt("http", server), origin.url("/hello") },
        { QStringLiteral("-p"), QStringLiteral("--proxy"), proxyAt("http", server), origin.url("/hello") },
    };
    for (const QStringList &arguments : runs)
        EXPECT_EQ(curl(arguments).standardOutput, "hello through the proxy") << arguments.join(u' ').toStdString();
    EXPECT_EQ(server.acceptedConnections(), 4);
    EXPECT_GT(server.downloadedBytes(), 4 * 23);
    EXPECT_GT(server.uploadedBytes(), 0);
}

TEST_F(ProxyServerIntegration, RelaysLargeBodiesIntact)
{
    ProxyServer server(ProxyServer::Protocols::mixed);
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    const ProgramResult result = curl({ QStringLiteral("--proxy"), proxyAt("socks5h", server), origin.url("/big") });
    EXPECT_EQ(result.standardOutput.size(), 3 * 1024 * 1024);
    EXPECT_EQ(result.standardOutput.count('b'), 3 * 1024 * 1024);
}

TEST_F(ProxyServerIntegration, ChainsThroughTheUpstreamTheRouterPicks)
{
    ProxyServer socksNode(ProxyServer::Protocols::socks5);
    ProxyServer httpNode(ProxyServer::Protocols::http);
    ASSERT_TRUE(socksNode.listen(QHostAddress::LocalHost, 0));
    ASSERT_TRUE(httpNode.listen(QHostAddress::LocalHost, 0));
    ProxyServer front(ProxyServer::Protocols::mixed);
    ASSERT_TRUE(front.listen(QHostAddress::LocalHost, 0));
    QList<Endpoint> targets;
    front.setRouter([&](const Endpoint &target) {
        targets << target;
        Upstream upstream;
        upstream.kind = targets.size() == 1 ? Upstream::Kind::socks5 : Upstream::Kind::http;
        upstream.host = QStringLiteral("127.0.0.1");
        upstream.port = targets.size() == 1 ? socksNode.port() : httpNode.port();
        return upstream;
    });
    const QString byName = QStringLiteral("http://localhost:%1/hello").arg(origin.port());
    EXPECT_EQ(
        curl({ QStringLiteral("--proxy"), proxyAt("http", front), byName }).standardOutput, "hello through the proxy");
    EXPECT_EQ(curl({ QStringLiteral("--proxy"), proxyAt("socks5h", front), byName }).standardOutput,
        "hello through the proxy");
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
    const QStringList writeCode { QStringLiteral("-o"), QStringLiteral("/dev/null"), QStringLiteral("-w"),
        QStringLiteral("%{http_code}") };
    EXPECT_EQ(curl(writeCode
                  + QStringList { QStringLiteral("--proxy"), proxyAt("http", server),
                      QStringLiteral("http://localhost:%1/hello").arg(origin.port()) })
                  .standardOutput,
        "403");
    EXPECT_EQ(curl(writeCode
                  + QStringList { QStringLiteral("--proxy"), proxyAt("http", server),
                      QStringLiteral("http://127.0.0.1:%1/").arg(freePort()) })
                  .standardOutput,
        "502");
    EXPECT_NE(curl({ QStringLiteral("--proxy"), proxyAt("socks5h", server),
                       QStringLiteral("http://localhost:%1/hello").arg(origin.port()) })
                  .exitCode,
        0);
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
    EXPECT_EQ(curl({ QStringLiteral("--proxy"), proxyAt("socks5", server),
                       QStringLiteral("http://[::1]:%1/").arg(v6.serverPort()) })
                  .standardOutput,
        "v6");
}

} // namespace
} // namespace veyra
