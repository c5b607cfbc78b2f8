// Plans and payment orders against the simulator: only the service's "paid" changes anything.
#include "AppModelTestPeer.h"
#include "ServiceWorld.h"

#include "AppPaths.h"
#include "NotificationServer.h"

#include <QDir>
#include <QFile>

using namespace veyra;
using namespace veyra::test;
using json::Json;

namespace {

class PaymentIntegration : public ServiceWorld {
protected:
    std::optional<PendingOrderRecord> pendingRecord() const
    {
        return AppPaths::read<PendingOrderRecord>(AppPaths::pendingOrder(), AppPaths::pendingOrderCap);
    }
    void setStatus(const QString &orderNo, const char *status)
    {
        simulator.admin(QStringLiteral("order-status"), { { "orderNo", orderNo.toStdString() }, { "status", status } });
    }
    void writeRecord(const QString &orderNo, const QDateTime &createdAt)
    {
        AppPaths::prepare();
        AppPaths::write(PendingOrderRecord { orderNo, createdAt }.toJson(), AppPaths::pendingOrder());
    }
    QString openOrderOnTheService()
    {
        const Json reply = simulator.admin(QStringLiteral("orders"), { { "account", member }, { "method", "wechat" } });
        return QString::fromStdString(reply.at("order").at("orderNo").get<std::string>());
    }
};

TEST(OrderPolling, WaitsFollowTheTable)
{
    const auto seconds = [](int attempt) {
        return std::chrono::duration_cast<std::chrono::seconds>(AppCollaborators::orderPollDelay(attempt)).count();
    };
    EXPECT_EQ(seconds(0), 2); // the first query, two seconds after the order was made
    EXPECT_EQ(seconds(8), 12); // the ninth wait
    EXPECT_EQ(seconds(10), 20);
    EXPECT_EQ(seconds(11), 30);
    EXPECT_EQ(seconds(400), 30);
}

TEST_F(PaymentIntegration, PlansAreFilteredAndOrderedStably)
{
    signIn({}, true);
    QStringList ids;
    for (const Plan &offered : model->plans())
        ids << offered.id;
    EXPECT_EQ(ids, QStringList({ "lifetime", "monthly", "quarterly", "yearly" }));

    // A member on a plan no longer sold still has it as the current plan.
    simulator.admin(
        QStringLiteral("membership"), { { "account", member }, { "active", true }, { "planId", "legacy" } });
    await(model->refreshAccount(true));
    ASSERT_TRUE(model->currentPlan());
    EXPECT_EQ(model->currentPlan()->id, QStringLiteral("legacy"));
    EXPECT_FALSE(ids.contains(QStringLiteral("legacy")));

    simulator.fault(QStringLiteral("/api/v1/plans"), { { "status", 500 } });
    await(model->refreshPlans(true));
    EXPECT_EQ(model->plans().size(), 4);
    EXPECT_EQ(model->alertMessage(), std::nullopt);
    await(model->refreshPlans(false));
    EXPECT_TRUE(model->alertMessage().has_value());
}

TEST_F(PaymentIntegration, AnAlipayOrderOpensItsPageAndIsWatchedUntilPaid)
{
    NotificationServer server;
    ASSERT_TRUE(server.registered());
    signIn({}, true);
    await(model->setNotifications(true));
    ASSERT_TRUE(model->settings().showNotifications);
    await(model->createOrder(plan(QStringLiteral("monthly")), QStringLiteral("alipay")));
    ASSERT_TRUE(model->currentOrder()) << model->alertMessage().value_or(QString()).toStdString();
    const QString orderNo = model->currentOrder()->orderNo;
    EXPECT_TRUE(model->showCheckout());
    EXPECT_FALSE(model->isBusy());
    EXPECT_FALSE(model->checkoutImage().isNull());
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened.first().toString(), *model->currentOrder()->paymentUrl);
    ASSERT_TRUE(pendingRecord());
    EXPECT_EQ(pendingRecord()->orderNo, orderNo);
    const std::string key = *recordedHeader(requestsTo("/api/v1/orders").first(), "Idempotency-Key");
    EXPECT_EQ(key.rfind("mac-", 0), 0u);
    EXPECT_EQ(QString::fromStdString(key), QString::fromStdString(key).toLower());
    EXPECT_EQ(key.size(), 40u);

    // Still open for a few queries, then the service says paid.
    ASSERT_TRUE(eventually([&] { return pollAttempts.size() >= 3; }));
    EXPECT_FALSE(model->membershipActive());
    setStatus(orderNo, "paid");
    ASSERT_TRUE(eventually([&] { return model->statusMessage() == QStringLiteral("开通成功"); }));
    EXPECT_TRUE(model->membershipActive());
    EXPECT_EQ(model->currentOrder()->status, QStringLiteral("paid"));
    EXPECT_TRUE(model->checkoutImage().isNull());
    EXPECT_FALSE(pendingRecord());
    EXPECT_TRUE(model->officialLineReady());
    EXPECT_TRUE(eventually([&] { return !Peer::paymentPollingRunning(*model); }));
    EXPECT_EQ(pollAttempts.mid(0, 3), QList<int>({ 0, 1, 2 }));
    ASSERT_TRUE(eventually([&] { return server.shown().size() == 1; }));
    EXPECT_EQ(server.shown().first().title, QStringLiteral("开通成功"));
    EXPECT_EQ(server.shown().first().body, QStringLiteral("会员权益已更新"));
}

TEST_F(PaymentIntegration, AWechatOrderWaitsForTheUserAndBadInputIsRefused)
{
    signIn({}, true);
    await(model->createOrder(plan(QStringLiteral("monthly")), QStringLiteral("card")));
    EXPECT_EQ(model->alertMessage(), QStringLiteral("不支持的支付方式。"));
    EXPECT_FALSE(model->currentOrder());
    EXPECT_TRUE(requestsTo("/api/v1/orders").isEmpty());

    await(model->createOrder(plan(QStringLiteral("quarterly")), QStringLiteral("wechat")));
    ASSERT_TRUE(model->currentOrder());
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_TRUE(model->showCheckout());
    // The user opens the page by hand, and the system will not open a browser.
    browserOpens = false;
    await(model->openPaymentPage());
    EXPECT_EQ(opened.size(), 1);
    EXPECT_EQ(model->alertMessage(), QStringLiteral("无法打开系统浏览器。"));
    opened.clear();
    browserOpens = true;

    // The QR code from the service is missing: one is drawn from the order's code address.
    simulator.fault(QStringLiteral("/api/v1/orders/") + model->currentOrder()->orderNo + QStringLiteral("/qrcode"),
        { { "status", 500 } });
    model->setAlertMessage(std::nullopt);
    await(Peer::resumePendingOrder(*model));
    EXPECT_EQ(model->checkoutImage().width(), 220);

    // A checkout address on a look-alike domain never reaches the browser.
    simulator.fault(QStringLiteral("/api/v1/orders"),
        { { "status", 200 }, { "contentType", "application/json" },
            { "body",
                R"({"orderNo":"VN-FAKE","method":"alipay","status":"pending","paymentUrl":"https://alipay.com.pay-check.example/x"})" } });
    await(model->createOrder(plan(QStringLiteral("monthly")), QStringLiteral("alipay")));
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_EQ(model->alertMessage(),
        QStringLiteral("为防止跳转到仿冒页面，已阻止未授权的收银台域名：alipay.com.pay-check.example"));

    simulator.admin(QStringLiteral("faults/clear"));
    simulator.fault(QStringLiteral("/api/v1/orders"),
        { { "status", 200 }, { "contentType", "application/json" },
            { "body", R"({"orderNo":"VN-NOURL","method":"alipay","status":"pending"})" } });
    await(model->createOrder(plan(QStringLiteral("monthly")), QStringLiteral("alipay")));
    EXPECT_EQ(model->alertMessage(), QStringLiteral("订单没有可打开的收银台地址。"));
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(PaymentIntegration, ARestartResumesAnOpenOrderWithinADay)
{
    signIn({}, true);
    const QString orderNo = openOrderOnTheService();
    writeRecord(orderNo, now.addSecs(-3600));
    await(Peer::resumePendingOrder(*model));
    ASSERT_TRUE(model->currentOrder());
    EXPECT_EQ(model->currentOrder()->orderNo, orderNo);
    EXPECT_FALSE(model->showCheckout());
    EXPECT_TRUE(Peer::paymentPollingRunning(*model));
    setStatus(orderNo, "paid");
    EXPECT_TRUE(eventually([&] { return model->statusMessage() == QStringLiteral("开通成功"); }));
    EXPECT_FALSE(pendingRecord());
}

TEST_F(PaymentIntegration, OldFutureDamagedAndFinishedRecordsEndWithoutPolling)
{
    signIn({}, true);
    const int queriesBefore = simulator.requests().size();
    for (const QDateTime &created : { now.addSecs(-25 * 3600), now.addSecs(600) }) {
        writeRecord(QStringLiteral("VN-OLD"), created);
        await(Peer::resumePendingOrder(*model));
        EXPECT_FALSE(pendingRecord());
        EXPECT_FALSE(model->currentOrder());
    }
    EXPECT_EQ(simulator.requests().size(), queriesBefore) << "the service was asked about a stale order";

    AppPaths::prepare();
    for (const QByteArray &damaged : { QByteArray("{not json"), QByteArray(AppPaths::pendingOrderCap + 1, ' ') }) {
        for (const QString &old : QDir(root()).entryList({ "pending-order.broken-*.json" }))
            QFile::remove(root() + "/" + old);
        test::writeBytes(AppPaths::pendingOrder(), damaged);
        await(Peer::resumePendingOrder(*model));
        EXPECT_FALSE(QFile::exists(AppPaths::pendingOrder()));
        EXPECT_EQ(QDir(root()).entryList({ "pending-order.broken-*.json" }).size(), 1);
    }

    // Expired on the service: cleared, and the membership is not refreshed.
    const QString expired = openOrderOnTheService();
    setStatus(expired, "expired");
    writeRecord(expired, now.addSecs(-60));
    const int meBefore = requestsTo("/api/v1/me").size();
    await(Peer::resumePendingOrder(*model));
    EXPECT_EQ(model->currentOrder()->status, QStringLiteral("expired"));
    EXPECT_FALSE(pendingRecord());
    EXPECT_EQ(requestsTo("/api/v1/me").size(), meBefore);
    EXPECT_FALSE(Peer::paymentPollingRunning(*model));

    // Paid, in capitals: counts as paid; the account is refreshed and the sheet closed.
    const QString paid = openOrderOnTheService();
    setStatus(paid, "PAID");
    writeRecord(paid, now.addSecs(-60));
    await(Peer::resumePendingOrder(*model));
    EXPECT_EQ(model->statusMessage(), QStringLiteral("开通成功"));
    EXPECT_EQ(requestsTo("/api/v1/me").size(), meBefore + 1);
    EXPECT_FALSE(model->showCheckout());
    EXPECT_FALSE(pendingRecord());

    // The service unreachable: the record stays for the next start.
    const QString open = openOrderOnTheService();
    writeRecord(open, now.addSecs(-60));
    simulator.fault(QStringLiteral("/api/v1/orders/") + open, { { "status", 503 } });
    await(Peer::resumePendingOrder(*model));
    EXPECT_TRUE(pendingRecord());
}

TEST_F(PaymentIntegration, AnOldOrderPaidLateLeavesTheNewOrdersCheckoutAlone)
{
    signIn({}, true);
    await(model->createOrder(plan(QStringLiteral("monthly")), QStringLiteral("wechat")));
    ASSERT_TRUE(model->currentOrder());
    const QString old = model->currentOrder()->orderNo;

    // The old order is paid; the account refresh that follows is slow to answer, and the user
    // makes a new order meanwhile.
    const qsizetype refreshes = requestsTo("/api/v1/me").size();
    simulator.fault(QStringLiteral("/api/v1/me"), { { "delayMs", 1500 }, { "times", 1 } });
    setStatus(old, "paid");
    ASSERT_TRUE(eventually([&] { return requestsTo("/api/v1/me").size() > refreshes; }, 5000));
    await(model->createOrder(plan(QStringLiteral("quarterly")), QStringLiteral("wechat")));
    ASSERT_TRUE(model->currentOrder());
    const QString fresh = model->currentOrder()->orderNo;
    ASSERT_NE(fresh, old);
    ASSERT_FALSE(model->checkoutImage().isNull());

    ASSERT_TRUE(eventually([&] { return model->statusMessage() == QStringLiteral("开通成功"); }, 5000));
    EXPECT_EQ(model->currentOrder()->orderNo, fresh);
    EXPECT_FALSE(model->checkoutImage().isNull()) << "the new order's QR code was cleared";
    EXPECT_TRUE(model->showCheckout());
    ASSERT_TRUE(pendingRecord());
    EXPECT_EQ(pendingRecord()->orderNo, fresh);
}

TEST_F(PaymentIntegration, ASessionRefusedWhilePollingSignsOutAndKeepsTheOrderForLater)
{
    signIn({}, true);
    await(model->createOrder(plan(QStringLiteral("monthly")), QStringLiteral("wechat")));
    ASSERT_TRUE(model->currentOrder());
    const QString orderNo = model->currentOrder()->orderNo;
    simulator.admin(QStringLiteral("revoke"), { { "account", member } });

    ASSERT_TRUE(eventually([&] { return model->showAuthentication() && !Peer::paymentPollingRunning(*model); }, 5000))
        << "polling went on with a refused session";
    EXPECT_FALSE(model->user());
    EXPECT_EQ(model->authenticationErrorMessage(), QStringLiteral("登录状态已过期，请重新登录"));
    ASSERT_TRUE(pendingRecord());
    EXPECT_EQ(pendingRecord()->orderNo, orderNo);

    // Signed in again, the order is followed once more.
    await(model->login(QString::fromLatin1(member), QStringLiteral("password123"), false));
    ASSERT_TRUE(model->currentOrder());
    EXPECT_EQ(model->currentOrder()->orderNo, orderNo);
    EXPECT_TRUE(Peer::paymentPollingRunning(*model));
}

} // namespace
