// The shared proxy library on its own, driven by the real curl: every stand-in node and the
// stand-in kernel's mixed port are made of it.
#include "KernelTestSupport.h"
#include "LocalHttpServer.h"
#include "ProxyServer.h"
#include "TestSupport.h"

namespace veyra {
namespace {

using namespace veyra::test;
using namespace veyra::proxy;

const QByteArray hello = "hello through the proxy";

class ProxyServerIntegration : public ::testing::Test {
protected:
    ProxyServerIntegration()
    {
        origin.route("/hello", { 200, {}, hello });
        origin.route("/big", { 200, {}, QByteArray(3 * 1024 * 1024, 'b') });
    }
    // What curl fetched through `server` (as `scheme`) from `url`, with further options.
    QByteArray curl(const char *scheme, const ProxyServer &server, const QString &url, const QStringList &extra = {})
    {
        const QString proxy = QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1String(scheme)).arg(server.port());
        return await(runProgram(QStringLiteral("/usr/bin/curl"),
                         QStringList { QStringLiteral("-s"), QStringLiteral("--max-time"), QStringLiteral("10"),
                             QStringLiteral("--proxy"), proxy, url }
                             + extra))
            .standardOutput;
    }
    QString byName() const { return QStringLiteral("http://localhost:%1/hello").arg(origin.port()); }

    LocalHttpServer origin;
};

// socks5h hands the name to the proxy; -p makes curl tunnel with CONNECT.
TEST_F(ProxyServerIntegration, MixedPortSpeaksSocks5AndBothHttpFormsAndRelaysLargeBodies)
{
    ProxyServer server(ProxyServer::Protocols::mixed);
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    const std::tuple<const char *, QString, QStringList> runs[] = {
        { "socks5", origin.url("/hello"), {} },
        { "socks5h", byName(), {} },
        { "http", origin.url("/hello"), {} },
        { "http", byName(), { QStringLiteral("-p") } },
    };
    for (const auto &[scheme, url, extra] : runs)
        EXPECT_EQ(curl(scheme, server, url, extra), hello) << scheme << " " << extra.join(u' ').toStdString();
    EXPECT_EQ(server.acceptedConnections(), 4);
    EXPECT_GT(server.downloadedBytes(), 4 * hello.size());
    EXPECT_GT(server.uploadedBytes(), 0);
    EXPECT_EQ(curl("socks5h", server, origin.url("/big")), QByteArray(3 * 1024 * 1024, 'b'));
}

// The router picks a socks5 node, then an http one; a rejected target gets 403, an unreachable 502.
TEST_F(ProxyServerIntegration, ChainsThroughTheUpstreamTheRouterPicksOrRefuses)
{
    ProxyServer socksNode(ProxyServer::Protocols::socks5), httpNode(ProxyServer::Protocols::http);
    ProxyServer front(ProxyServer::Protocols::mixed);
    for (ProxyServer *server : { &socksNode, &httpNode, &front })
        ASSERT_TRUE(server->listen(QHostAddress::LocalHost, 0));
    QList<Endpoint> targets;
    front.setRouter([&](const Endpoint &target) {
        targets << target;
        if (targets.size() > 2)
            return target.host == QLatin1String("localhost") ? Upstream::reject() : Upstream::direct();
        Upstream upstream;
        upstream.kind = targets.size() == 1 ? Upstream::Kind::socks5 : Upstream::Kind::http;
        upstream.host = QStringLiteral("127.0.0.1");
        upstream.port = targets.size() == 1 ? socksNode.port() : httpNode.port();
        return upstream;
    });
    EXPECT_EQ(curl("http", front, byName()), hello);
    EXPECT_EQ(curl("socks5h", front, byName()), hello);
    EXPECT_EQ(socksNode.acceptedConnections(), 1);
    EXPECT_EQ(httpNode.acceptedConnections(), 1);
    ASSERT_EQ(targets.size(), 2);
    EXPECT_EQ(targets[0], (Endpoint { QStringLiteral("localhost"), origin.port() }));

    const QStringList code { QStringLiteral("-o"), QStringLiteral("/dev/null"), QStringLiteral("-w"),
        QStringLiteral("%{http_code}") };
    EXPECT_EQ(curl("http", front, byName(), code), "403");
    EXPECT_EQ(curl("http", front, QStringLiteral("http://127.0.0.1:%1/").arg(freePort()), code), "502");
}

} // namespace
} // namespace veyra
