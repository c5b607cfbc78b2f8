#include "AppPaths.h"
#include "KernelTestSupport.h"
#include "LocalHttpServer.h"
#include "MihomoManager.h"
#include "ProxyServer.h"

#include <QCoroTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace veyra {
namespace {

using namespace veyra::test;
using veyra::proxy::Endpoint;
using veyra::proxy::ProxyServer;
using veyra::proxy::Upstream;

QByteArray node(const char *name, const char *type, quint16 port)
{
    return "  - name: \"" + QByteArray(name) + "\"\n    type: " + type
        + "\n    server: 127.0.0.1\n    port: " + QByteArray::number(port) + "\n";
}

// The bundled stand-in kernel, started through the manager with a generated configuration,
// a provider served from this process and two real proxy nodes on loopback.
class KernelRunIntegration : public DataFolderTest {
protected:
    void SetUp() override
    {
        DataFolderTest::SetUp();
        ASSERT_TRUE(socksNode.listen(QHostAddress::LocalHost, 0));
        ASSERT_TRUE(httpNode.listen(QHostAddress::LocalHost, 0));
        const QByteArray provider = "proxies:\n" + node("香港 01", "socks5", socksNode.port())
            + node("PASS", "socks5", socksNode.port()) + node("Tokyo 02", "http", httpNode.port());
        origin.route("/sub.yaml", { 200, {}, provider });
        origin.route("/generate_204", { 204, {}, {} });
        origin.route("/redirect", { 302, { { "Location", "http://127.0.0.1:1/" } }, {} });
        source = { QStringLiteral("veyra_official"), origin.url("/sub.yaml"), QStringLiteral("Clash.Meta/Veyra-1.0.0"),
            QStringLiteral("device-42"), 3600 };
        settings = settingsWithFreePorts();
    }

    void TearDown() override
    {
        if (manager.isRunning())
            await(manager.stop(true));
        DataFolderTest::TearDown();
    }

    QJsonObject controllerObject(const QString &path)
    {
        return QJsonDocument::fromJson(await(manager.controller(path, "GET", std::nullopt, settings))).object();
    }

    QString selectableNow()
    {
        return controllerObject(QStringLiteral("proxies/%E7%BB%B4%E6%8B%89%E7%BD%91%E7%BB%9C"))[QStringLiteral("now")]
            .toString();
    }

    LocalHttpServer origin;
    ProxyServer socksNode { ProxyServer::Protocols::socks5 };
    ProxyServer httpNode { ProxyServer::Protocols::http };
    MihomoManager manager { origin.url("/generate_204"), { bundledKernelDirectory() } };
    ProviderSource source;
    AppSettings settings;
};

// One kernel's whole run: its line downloaded, its nodes listed, measured and selected, its modes,
// the proxy verified, its traffic read, then a restart and a stop.
TEST_F(KernelRunIntegration, ListsSelectsMeasuresReportsRestartsAndStops)
{
    QList<Endpoint> throughHttpNode;
    httpNode.setRouter([&](const Endpoint &target) {
        throughHttpNode << target;
        return Upstream::direct();
    });
    await(manager.start(source, settings));
    ASSERT_TRUE(manager.isRunning());
    EXPECT_EQ(modeOf(AppPaths::config()), 0600);
    // The kernel opens its controller before it loads its providers, so the line's download
    // may still be on its way when the start returns.
    const auto downloaded = [&] {
        return std::find_if(origin.requests().cbegin(), origin.requests().cend(),
            [](const LocalHttpServer::Request &request) { return request.target == "/sub.yaml"; });
    };
    ASSERT_TRUE(eventually([&] { return downloaded() != origin.requests().cend(); }));
    const auto download = downloaded();
    EXPECT_EQ(download->headers.value("user-agent"), "Clash.Meta/Veyra-1.0.0");
    EXPECT_EQ(download->headers.value("x-device-id"), "device-42");

    // The provider loads behind the controller; its nodes follow within moments, and its copy
    // is kept where the kernel was told.
    QList<NodeItem> nodes;
    ASSERT_TRUE(eventually([&] { return (nodes = await(manager.nodes(settings))).size() == 2; }));
    EXPECT_TRUE(QFileInfo::exists(AppPaths::providersDirectory() + QStringLiteral("/veyra_official.yaml")));
    // The reserved name "PASS" is left out; how names become regions is the parser's test.
    EXPECT_EQ(nodes[0].name, QStringLiteral("香港 01"));
    EXPECT_EQ(nodes[1].name, QStringLiteral("Tokyo 02"));

    const QMap<QString, qint64> delays = await(manager.testLatencies(settings));
    EXPECT_GT(delays.value(QStringLiteral("香港 01")), 0);
    EXPECT_GT(delays.value(QStringLiteral("Tokyo 02")), 0);
    EXPECT_GE(httpNode.acceptedConnections(), 1) << "the delay must be measured through the node itself";

    await(manager.selectNode(QStringLiteral("Tokyo 02"), settings));
    EXPECT_EQ(selectableNow(), QStringLiteral("Tokyo 02"));
    EXPECT_THROW(await(manager.selectNode(QStringLiteral("no such node"), settings)), AppError);

    // Rule mode sends loopback traffic DIRECT; global mode sends it through the chosen node. The
    // check is named "localhost" here, a name the kernel's own measurements never use.
    const Endpoint check { QStringLiteral("localhost"), origin.port() };
    const QStringList curl { QStringLiteral("-s"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
        QStringLiteral("-w"), QStringLiteral("%{http_code}"), QStringLiteral("--proxy"),
        QStringLiteral("http://127.0.0.1:%1").arg(settings.mixedPort),
        "http://" + check.authority() + "/generate_204" };
    EXPECT_EQ(await(runProgram(QStringLiteral("/usr/bin/curl"), curl)).standardOutput, "204");
    EXPECT_EQ(throughHttpNode.count(check), 0);

    await(manager.controller(QStringLiteral("configs"), "PATCH", QByteArray(R"({"mode":"global"})"), settings));
    EXPECT_EQ(controllerObject(QStringLiteral("configs"))[QStringLiteral("mode")].toString(), QStringLiteral("global"));
    EXPECT_EQ(await(runProgram(QStringLiteral("/usr/bin/curl"), curl)).standardOutput, "204");
    EXPECT_EQ(throughHttpNode.count(check), 1);

    EXPECT_THROW(
        await(manager.controller(QStringLiteral("configs"), "PATCH", QByteArray(R"({"mode":"fast"})"), settings)),
        AppError);

    // The proxy is verified through curl: a 204 passes, a redirect or nothing listening does not.
    EXPECT_TRUE(await(manager.verifyProxy(settings.mixedPort)));
    MihomoManager redirected(origin.url("/redirect"), { bundledKernelDirectory() });
    EXPECT_FALSE(await(redirected.verifyProxy(settings.mixedPort))) << "302";
    EXPECT_FALSE(await(manager.verifyProxy(freePort()))) << "000";
    MihomoManager withoutCurl(
        origin.url("/generate_204"), { bundledKernelDirectory() }, QStringLiteral("/nonexistent/curl"));
    EXPECT_FALSE(await(withoutCurl.verifyProxy(settings.mixedPort)));
    // Another manager's secret is not this kernel's.
    EXPECT_EQ(errorText(redirected.nodes(settings)), QStringLiteral("Mihomo 本地控制请求失败。"));

    // The kernel's traffic stream; what its messages mean is the controller client's test.
    EXPECT_GE(await(manager.nextTrafficSample(settings)).down, 0);

    // A restart ends the first kernel before the second runs and selects the chosen node again;
    // a stop removes the configuration.
    const qint64 first = manager.processId();
    settings.selectedNode = QStringLiteral("香港 01");
    await(manager.start(source, settings));
    EXPECT_FALSE(processAlive(first)) << "the first kernel must be gone before the second runs";
    EXPECT_NE(manager.processId(), first);
    EXPECT_EQ(selectableNow(), QStringLiteral("香港 01"));
    const qint64 second = manager.processId();
    await(manager.stop(true));
    EXPECT_FALSE(manager.isRunning());
    EXPECT_FALSE(processAlive(second));
    EXPECT_FALSE(QFileInfo::exists(AppPaths::config()));
    EXPECT_TRUE(readBytes(AppPaths::logs() + QStringLiteral("/mihomo-current.log")).contains("controller listening"));
    EXPECT_THROW(await(manager.nodes(settings)), SystemError);
}

TEST_F(KernelRunIntegration, ASlowSubscriptionServerDelaysTheNodesNotTheStart)
{
    // The provider document trickles in over about three seconds.
    const QByteArray document = "proxies:\n" + node("Slow 01", "socks5", socksNode.port());
    origin.route("/slow.yaml", { 200, {}, document, 10, 300 });
    source.url = origin.url("/slow.yaml");
    QElapsedTimer clock;
    clock.start();
    await(manager.start(source, settings));
    EXPECT_LT(clock.elapsed(), 2500) << "the controller waited for the provider";
    EXPECT_TRUE(await(manager.nodes(settings)).isEmpty());
    QList<NodeItem> nodes;
    ASSERT_TRUE(eventually([&] { return !(nodes = await(manager.nodes(settings))).isEmpty(); }, 8000));
    EXPECT_EQ(nodes.value(0).name, QStringLiteral("Slow 01"));
}

} // namespace
} // namespace veyra
