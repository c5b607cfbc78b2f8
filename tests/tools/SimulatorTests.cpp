// The service simulator's own promises: the official line, its nodes, checkout and auto-pay.
#include "APIClient.h"
#include "KernelTestSupport.h"
#include "ErrorExpectations.h"
#include "ServiceSimulator.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace veyra;
using namespace veyra::test;
using json::Json;

namespace {

constexpr const char *member = "13800138000";

TEST(SimulatorIntegration, OfficialLineListsWorkingSocksNodesAndReportsUsage)
{
    ServiceSimulator simulator({ "--nodes", "127.0.0.1" });
    ASSERT_TRUE(simulator.started());
    APIClient api(simulator.signedInToken(member, true), simulator.clientOptions());
    const AccountUser user = await(api.currentUser());
    ASSERT_TRUE(user.subscriptionUrl.has_value());

    const Fetched line = fetch(QUrl(*user.subscriptionUrl), simulator.certificates());
    ASSERT_EQ(line.status, 200);
    EXPECT_TRUE(line.header("subscription-userinfo").startsWith("upload=0; download=0; total="));
    const QString yaml = QString::fromUtf8(line.body);
    EXPECT_TRUE(yaml.startsWith("proxies:\n"));
    EXPECT_EQ(yaml.count("type: socks5"), 8);
    for (const char *name : { "东京 01", "Hong Kong 02", "新加坡 Singapore", "Relay-jp" })
        EXPECT_TRUE(yaml.contains(QStringLiteral("name: \"%1\"").arg(QString::fromUtf8(name)))) << name;

    // Through the first node to the connectivity check, then the usage grows.
    const qsizetype portAt = yaml.indexOf("port: ") + 6;
    const quint16 port = yaml.mid(portAt, yaml.indexOf('\n', portAt) - portAt).toUShort();
    ASSERT_GT(port, 0);
    const Fetched check = fetch(QUrl(simulator.origin() + "/generate_204"), simulator.certificates(), "GET",
        QNetworkProxy(QNetworkProxy::Socks5Proxy, "127.0.0.1", port));
    EXPECT_EQ(check.status, 204);
    // The relay reports its bytes when the tunnel closes, which happens a moment later.
    QByteArray usage;
    EXPECT_TRUE(eventually([&] {
        usage = fetch(QUrl(*user.subscriptionUrl), simulator.certificates()).header("subscription-userinfo");
        return !usage.startsWith("upload=0; download=0;");
    })) << usage.toStdString();
    EXPECT_GT(await(api.currentUser()).membership->trafficUsedBytes.value_or(0), 0);

    // Without an active membership there is no line.
    simulator.admin("membership", { { "account", member }, { "active", false } });
    EXPECT_EQ(fetch(QUrl(*user.subscriptionUrl), simulator.certificates()).status, 404);
}

TEST(SimulatorIntegration, CheckoutPayActionMarksTheOrderPaid)
{
    ServiceSimulator simulator;
    ASSERT_TRUE(simulator.started());
    APIClient api(simulator.signedInToken(member), simulator.clientOptions());
    const PaymentOrder order = await(api.createOrder("quarterly", "alipay", "mac-pay"));
    ASSERT_TRUE(order.paymentUrl.has_value());
    const Fetched page = fetch(QUrl(*order.paymentUrl), simulator.certificates());
    EXPECT_EQ(page.status, 200);
    EXPECT_TRUE(page.body.contains("确认支付"));
    EXPECT_EQ(fetch(QUrl(*order.paymentUrl + "/pay"), simulator.certificates()).status, 405); // GET does not pay
    EXPECT_EQ(await(api.order(order.orderNo)).status, "pending");

    EXPECT_EQ(fetch(QUrl(*order.paymentUrl + "/pay"), simulator.certificates(), "POST").status, 200);
    EXPECT_EQ(await(api.order(order.orderNo)).status, "paid");
    const AccountUser user = await(api.currentUser());
    EXPECT_TRUE(user.membership->active);
    EXPECT_EQ(user.membership->planId, std::optional<QString>("quarterly"));
}

TEST(SimulatorIntegration, AutoPayAndRefusedOrders)
{
    ServiceSimulator simulator({ "--auto-pay", "1" });
    ASSERT_TRUE(simulator.started());
    APIClient api(simulator.signedInToken(member), simulator.clientOptions());
    const PaymentOrder order = await(api.createOrder("monthly", "wechat", "mac-auto"));
    EXPECT_EQ(order.status, "pending");
    // Paid about a second later: asked until then, within a bound far above it.
    QString status;
    EXPECT_TRUE(eventually([&] { return (status = await(api.order(order.orderNo)).status) == "paid"; }))
        << status.toStdString();

    EXPECT_EQ(
        failureOf<AppError>(api.createOrder("monthly", "paypal", "mac-x")), "unsupported_method 不支持的支付方式");
    EXPECT_EQ(failureOf<AppError>(api.createOrder("legacy", "wechat", "mac-y")), "plan_not_found 套餐不存在或已下架");
}

// The sandbox's web sites and checkout host live in the same simulator as the service, told
// apart by the name a request is addressed to.
TEST(SimulatorIntegration, SiteHostsServePagesAndExactDownloadsAndCheckoutHasItsOwnBase)
{
    ServiceSimulator simulator({ "--site", "127.0.0.2", "--checkout-url", "https://pay.veyra.example" });
    ASSERT_TRUE(simulator.started());
    const QString site = simulator.origin(1);

    const Fetched home = fetch(QUrl(site + "/"), simulator.certificates());
    EXPECT_EQ(home.status, 200);
    EXPECT_TRUE(home.body.contains("Welcome to 127.0.0.2."));
    const Fetched download = fetch(QUrl(site + "/bytes/100000"), simulator.certificates());
    ASSERT_EQ(download.status, 200);
    ASSERT_EQ(download.body.size(), 100000);
    EXPECT_NE(download.body.count(download.body.at(0)), download.body.size());
    EXPECT_EQ(download.body.mid(4093, 64), download.body.left(64)); // the pattern repeats
    EXPECT_EQ(fetch(QUrl(site + "/bytes/67108865"), simulator.certificates()).status, 400);
    EXPECT_EQ(fetch(QUrl(site + "/bytes/x"), simulator.certificates()).status, 400);

    // Neither side answers the other's paths.
    EXPECT_EQ(fetch(QUrl(site + "/api/v1/plans"), simulator.certificates()).status, 404);
    EXPECT_EQ(fetch(QUrl(simulator.origin() + "/bytes/10"), simulator.certificates()).status, 404);

    APIClient api(simulator.signedInToken(member), simulator.clientOptions());
    const PaymentOrder order = await(api.createOrder("monthly", "wechat", "mac-site"));
    ASSERT_TRUE(order.paymentUrl.has_value());
    EXPECT_TRUE(order.paymentUrl->startsWith("https://pay.veyra.example/checkout/")) << order.paymentUrl->toStdString();
}

} // namespace
