#include "AppPaths.h"
#include "KernelTestSupport.h"
#include "LocalHttpServer.h"
#include "MihomoManager.h"
#include "ProxyServer.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace veyra {
namespace {

using namespace veyra::test;
using veyra::proxy::ProxyServer;

QByteArray node(const char *name, quint16 port)
{
    return "  - name: \"" + QByteArray(name)
        + "\"\n    type: socks5\n    server: 127.0.0.1\n    port: " + QByteArray::number(port) + "\n";
}

// The bundled stand-in kernel, started through the manager with a generated configuration,
// a provider served from this process and a real proxy node on loopback.
class KernelRunIntegration : public DataFolderTest {
protected:
    void SetUp() override
    {
        DataFolderTest::SetUp();
        ASSERT_TRUE(socksNode.listen(QHostAddress::LocalHost, 0));
        const QByteArray provider
            = "proxies:\n" + node("香港 01", socksNode.port()) + node("Tokyo 02", socksNode.port());
        origin.route("/sub.yaml", { 200, {}, provider });
        origin.route("/generate_204", { 204, {}, {} });
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

    LocalHttpServer origin;
    ProxyServer socksNode { ProxyServer::Protocols::socks5 };
    MihomoManager manager { origin.url("/generate_204"), { bundledKernelDirectory() } };
    ProviderSource source;
    AppSettings settings;
};

// One kernel's whole run: its line loaded where the kernel was told, its nodes listed, the proxy
// verified, then a restart and a stop. What the controller's answers mean is the controller
// client's test; what the configuration says is the compiler's.
TEST_F(KernelRunIntegration, ListsVerifiesRestartsAndStops)
{
    await(manager.start(source, settings));
    ASSERT_TRUE(manager.isRunning());
    EXPECT_EQ(modeOf(AppPaths::config()), 0600);
    // The kernel opens its controller before it loads its providers: the nodes follow within moments.
    ASSERT_TRUE(eventually([&] { return await(manager.nodes(settings)).size() == 2; }));
    EXPECT_TRUE(QFileInfo::exists(AppPaths::providersDirectory() + QStringLiteral("/veyra_official.yaml")));

    // The proxy is verified through curl: a 204 passes, nothing listening or no curl does not.
    EXPECT_TRUE(await(manager.verifyProxy(settings.mixedPort)));
    EXPECT_FALSE(await(manager.verifyProxy(freePort()))) << "000";
    MihomoManager withoutCurl(
        origin.url("/generate_204"), { bundledKernelDirectory() }, QStringLiteral("/nonexistent/curl"));
    EXPECT_FALSE(await(withoutCurl.verifyProxy(settings.mixedPort)));

    // A restart ends the first kernel before the second runs and selects the chosen node again;
    // a stop removes the configuration.
    const qint64 first = manager.processId();
    settings.selectedNode = QStringLiteral("香港 01");
    await(manager.start(source, settings));
    EXPECT_FALSE(processAlive(first)) << "the first kernel must be gone before the second runs";
    EXPECT_NE(manager.processId(), first);
    const QString group = QStringLiteral("proxies/%E7%BB%B4%E6%8B%89%E7%BD%91%E7%BB%9C");
    const QByteArray selectable = await(manager.controller(group, "GET", std::nullopt, settings));
    EXPECT_EQ(
        QJsonDocument::fromJson(selectable).object()[QStringLiteral("now")].toString(), QStringLiteral("香港 01"));
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
    const QByteArray document = "proxies:\n" + node("Slow 01", socksNode.port());
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
