// The service simulator's own promises: the official line and its nodes, checkout and auto-pay.
#include "APIClient.h"
#include "KernelTestSupport.h"
#include "ServiceSimulator.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace veyra;
using namespace veyra::test;

namespace {

constexpr const char *member = "13800138000";

TEST(SimulatorIntegration, OfficialLineListsWorkingSocksNodesAndReportsUsage)
{
    ServiceSimulator simulator({ "--nodes", "127.0.0.1" });
    ASSERT_TRUE(simulator.started());
    APIClient api(simulator.signedInToken(member, true), simulator.clientOptions());
    const AccountUser user = await(api.currentUser());
    ASSERT_TRUE(user.subscriptionUrl.has_value());
    const QUrl line(*user.subscriptionUrl);
    const Fetched listed = fetch(line, simulator.certificates());
    ASSERT_EQ(listed.status, 200);
    EXPECT_TRUE(listed.header("subscription-userinfo").startsWith("upload=0; download=0; total="));
    const QString yaml = QString::fromUtf8(listed.body);
    EXPECT_EQ(yaml.count("type: socks5"), 8);

    // Through the first node to the connectivity check; the relay reports its bytes when the
    // tunnel closes, a moment later.
    const qsizetype portAt = yaml.indexOf("port: ") + 6;
    const quint16 port = yaml.mid(portAt, yaml.indexOf('\n', portAt) - portAt).toUShort();
    EXPECT_EQ(fetch(QUrl(simulator.origin() + "/generate_204"), simulator.certificates(), "GET",
                  QNetworkProxy(QNetworkProxy::Socks5Proxy, "127.0.0.1", port))
                  .status,
        204);
    QByteArray usage;
    EXPECT_TRUE(eventually([&] {
        usage = fetch(line, simulator.certificates()).header("subscription-userinfo");
        return !usage.startsWith("upload=0; download=0;");
    })) << usage.toStdString();
    EXPECT_GT(await(api.currentUser()).membership->trafficUsedBytes.value_or(0), 0);

    simulator.admin("membership", { { "account", member }, { "active", false } });
    EXPECT_EQ(fetch(line, simulator.certificates()).status, 404) << "a line without a membership";
}

// The checkout page pays on POST only; with auto-pay an order is paid when asked about after
// its delay (none here).
TEST(SimulatorIntegration, CheckoutPaysOnPostAndAutoPayPaysPendingOrders)
{
    ServiceSimulator simulator;
    ASSERT_TRUE(simulator.started());
    APIClient api(simulator.signedInToken(member), simulator.clientOptions());
    const PaymentOrder order = await(api.createOrder("quarterly", "alipay", "mac-pay"));
    ASSERT_TRUE(order.paymentUrl.has_value());
    EXPECT_TRUE(fetch(QUrl(*order.paymentUrl), simulator.certificates()).body.contains("确认支付"));
    EXPECT_EQ(fetch(QUrl(*order.paymentUrl + "/pay"), simulator.certificates()).status, 405);
    EXPECT_EQ(await(api.order(order.orderNo)).status, "pending");
    EXPECT_EQ(fetch(QUrl(*order.paymentUrl + "/pay"), simulator.certificates(), "POST").status, 200);
    EXPECT_EQ(await(api.order(order.orderNo)).status, "paid");
    EXPECT_EQ(await(api.currentUser()).membership->planId, std::optional<QString>("quarterly"));

    simulator.admin("auto-pay", { { "seconds", 0 } });
    EXPECT_EQ(await(api.order(await(api.createOrder("monthly", "wechat", "mac-auto")).orderNo)).status, "paid");
}

} // namespace
