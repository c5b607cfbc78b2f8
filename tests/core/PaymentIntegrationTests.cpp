// Plans and payment orders against the simulator: only the service's "paid" changes anything.
#include "AppModelTestPeer.h"
#include "ServiceWorld.h"

#include "AppPaths.h"
#include "NotificationServer.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

using namespace veyra;
using namespace veyra::test;
using json::Json;

namespace {

class PaymentIntegration : public ServiceWorld {
protected:
    void SetUp() override
    {
        ServiceWorld::SetUp();
        signIn({}, true);
    }
    std::optional<QString> pendingOrderNo() const
    {
        const auto record = AppPaths::read<PendingOrderRecord>(AppPaths::pendingOrder(), AppPaths::pendingOrderCap);
        return record ? std::optional(record->orderNo) : std::nullopt;
    }
    void setStatus(const QString &orderNo, const char *status)
    {
        simulator.admin(QStringLiteral("order-status"), { { "orderNo", orderNo.toStdString() }, { "status", status } });
    }
    // An order open on the service (in the given state) that an earlier run recorded `age` ago.
    QString recordedOrder(qint64 age, const char *status = nullptr)
    {
        const Json reply = simulator.admin(QStringLiteral("orders"), { { "account", member }, { "method", "wechat" } });
        const QString orderNo = QString::fromStdString(reply.at("order").at("orderNo").get<std::string>());
        if (status)
            setStatus(orderNo, status);
        writeRecord(orderNo, now.addSecs(-age));
        return orderNo;
    }
    void writeRecord(const QString &orderNo, const QDateTime &createdAt)
    {
        AppPaths::prepare();
        AppPaths::write(PendingOrderRecord { orderNo, createdAt }.toJson(), AppPaths::pendingOrder());
    }
    void order(const char *planId, const char *method)
    {
        await(model->createOrder(plan(QString::fromLatin1(planId)), QString::fromLatin1(method)));
    }
    bool paid()
    {
        return eventually([&] { return model->statusMessage() == QStringLiteral("开通成功"); }, 5000);
    }
};

TEST(OrderPolling, WaitsFollowTheTable)
{
    // The first query two seconds after the order was made, the ninth wait 12 s, then up to 30 s.
    for (const auto &[attempt, seconds] : { std::pair { 0, 2 }, { 8, 12 }, { 10, 20 }, { 11, 30 }, { 400, 30 } })
        EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(AppCollaborators::orderPollDelay(attempt)).count(),
            seconds)
            << "attempt " << attempt;
}

TEST_F(PaymentIntegration, PlansAreFilteredAndOrderedStably)
{
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
    await(model->setNotifications(true));
    order("monthly", "alipay");
    ASSERT_TRUE(model->currentOrder()) << model->alertMessage().value_or(QString()).toStdString();
    const QString orderNo = model->currentOrder()->orderNo;
    EXPECT_TRUE(model->showCheckout());
    EXPECT_FALSE(model->checkoutImage().isNull());
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened.first().toString(), *model->currentOrder()->paymentUrl);
    EXPECT_EQ(pendingOrderNo(), orderNo);
    const QString key
        = QString::fromStdString(*recordedHeader(requestsTo("/api/v1/orders").first(), "Idempotency-Key"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^mac-[^A-Z]{36}$")).match(key).hasMatch()) << key.toStdString();

    // Still open for a few queries, then the service says paid.
    ASSERT_TRUE(eventually([&] { return pollAttempts.size() >= 3; }));
    EXPECT_FALSE(model->membershipActive());
    setStatus(orderNo, "paid");
    ASSERT_TRUE(paid());
    EXPECT_EQ(model->currentOrder()->status, QStringLiteral("paid"));
    EXPECT_TRUE(model->checkoutImage().isNull());
    EXPECT_FALSE(pendingOrderNo());
    EXPECT_TRUE(model->officialLineReady());
    EXPECT_TRUE(eventually([&] { return !Peer::paymentPollingRunning(*model); }));
    EXPECT_EQ(pollAttempts.mid(0, 3), QList<int>({ 0, 1, 2 }));
    ASSERT_TRUE(eventually([&] { return server.shown().size() == 1; }));
    EXPECT_EQ(server.shown().first().title, QStringLiteral("开通成功"));
    EXPECT_EQ(server.shown().first().body, QStringLiteral("会员权益已更新"));
}

TEST_F(PaymentIntegration, AWechatOrderWaitsForTheUserAndBadInputIsRefused)
{
    order("monthly", "card");
    EXPECT_EQ(model->alertMessage(), QStringLiteral("不支持的支付方式。"));
    EXPECT_FALSE(model->currentOrder());
    EXPECT_TRUE(requestsTo("/api/v1/orders").isEmpty());

    order("quarterly", "wechat");
    ASSERT_TRUE(model->currentOrder());
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_TRUE(model->showCheckout());
    // The user opens the page by hand, and the system will not open a browser.
    browserOpens = false;
    await(model->openPaymentPage());
    EXPECT_EQ(opened.size(), 1);
    EXPECT_EQ(model->alertMessage(), QStringLiteral("无法打开系统浏览器。"));
    opened.clear();

    // The QR code from the service is missing: one is drawn from the order's code address.
    simulator.fault(QStringLiteral("/api/v1/orders/") + model->currentOrder()->orderNo + QStringLiteral("/qrcode"),
        { { "status", 500 } });
    await(Peer::resumePendingOrder(*model));
    EXPECT_EQ(model->checkoutImage().width(), 220);

    // A checkout address on a look-alike domain, or none, never reaches the browser.
    const auto reply = [&](const char *body) {
        simulator.admin(QStringLiteral("faults/clear"));
        simulator.fault(QStringLiteral("/api/v1/orders"),
            { { "status", 200 }, { "contentType", "application/json" }, { "body", body } });
        order("monthly", "alipay");
    };
    reply(
        R"({"orderNo":"VN-FAKE","method":"alipay","status":"pending","paymentUrl":"https://alipay.com.pay-check.example/x"})");
    EXPECT_EQ(model->alertMessage(),
        QStringLiteral("为防止跳转到仿冒页面，已阻止未授权的收银台域名：alipay.com.pay-check.example"));
    reply(R"({"orderNo":"VN-NOURL","method":"alipay","status":"pending"})");
    EXPECT_EQ(model->alertMessage(), QStringLiteral("订单没有可打开的收银台地址。"));
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(PaymentIntegration, ARecordedOrderIsResumedOnlyWhileItCanStillBePaid)
{
    // Open and younger than a day: followed again, without the sheet, until paid.
    const QString open = recordedOrder(3600);
    await(Peer::resumePendingOrder(*model));
    ASSERT_TRUE(model->currentOrder());
    EXPECT_EQ(model->currentOrder()->orderNo, open);
    EXPECT_FALSE(model->showCheckout());
    EXPECT_TRUE(Peer::paymentPollingRunning(*model));
    setStatus(open, "paid");
    EXPECT_TRUE(paid());
    EXPECT_FALSE(pendingOrderNo());

    // Older than a day or from the future: dropped without asking the service.
    const int queriesBefore = simulator.requests().size();
    for (const QDateTime &created : { now.addSecs(-25 * 3600), now.addSecs(600) }) {
        writeRecord(QStringLiteral("VN-OLD"), created);
        await(Peer::resumePendingOrder(*model));
        EXPECT_FALSE(pendingOrderNo());
        EXPECT_NE(model->currentOrder()->orderNo, QStringLiteral("VN-OLD"));
    }
    EXPECT_EQ(simulator.requests().size(), queriesBefore) << "the service was asked about a stale order";

    for (const QByteArray &damaged : { QByteArray("{not json"), QByteArray(AppPaths::pendingOrderCap + 1, ' ') }) {
        for (const QString &old : QDir(root()).entryList({ "pending-order.broken-*.json" }))
            QFile::remove(root() + "/" + old);
        test::writeBytes(AppPaths::pendingOrder(), damaged);
        await(Peer::resumePendingOrder(*model));
        EXPECT_FALSE(QFile::exists(AppPaths::pendingOrder()));
        EXPECT_EQ(QDir(root()).entryList({ "pending-order.broken-*.json" }).size(), 1);
    }

    // Expired on the service: cleared, and the membership is not refreshed.
    recordedOrder(60, "expired");
    const int meBefore = requestsTo("/api/v1/me").size();
    await(Peer::resumePendingOrder(*model));
    EXPECT_EQ(model->currentOrder()->status, QStringLiteral("expired"));
    EXPECT_FALSE(pendingOrderNo());
    EXPECT_EQ(requestsTo("/api/v1/me").size(), meBefore);
    EXPECT_FALSE(Peer::paymentPollingRunning(*model));

    // Paid, in capitals: counts as paid; the account is refreshed and the sheet closed.
    recordedOrder(60, "PAID");
    await(Peer::resumePendingOrder(*model));
    EXPECT_EQ(requestsTo("/api/v1/me").size(), meBefore + 1);
    EXPECT_FALSE(model->showCheckout());
    EXPECT_FALSE(pendingOrderNo());

    // The service unreachable: the record stays for the next start.
    const QString unanswered = recordedOrder(60);
    simulator.fault(QStringLiteral("/api/v1/orders/") + unanswered, { { "status", 503 } });
    await(Peer::resumePendingOrder(*model));
    EXPECT_EQ(pendingOrderNo(), unanswered);
}

TEST_F(PaymentIntegration, AnOldOrderPaidLateLeavesTheNewOrderAloneWhichOutlivesARefusedSession)
{
    order("monthly", "wechat");
    ASSERT_TRUE(model->currentOrder());
    const QString old = model->currentOrder()->orderNo;
    // The old order is paid; the account refresh that follows is slow, and a new order is made.
    const qsizetype refreshes = requestsTo("/api/v1/me").size();
    simulator.fault(QStringLiteral("/api/v1/me"), { { "delayMs", 1500 }, { "times", 1 } });
    setStatus(old, "paid");
    ASSERT_TRUE(eventually([&] { return requestsTo("/api/v1/me").size() > refreshes; }, 5000));
    order("quarterly", "wechat");
    const QString fresh = model->currentOrder()->orderNo;
    ASSERT_NE(fresh, old);
    ASSERT_FALSE(model->checkoutImage().isNull());

    ASSERT_TRUE(paid());
    EXPECT_EQ(model->currentOrder()->orderNo, fresh);
    EXPECT_FALSE(model->checkoutImage().isNull()) << "the new order's QR code was cleared";
    EXPECT_TRUE(model->showCheckout());
    EXPECT_EQ(pendingOrderNo(), fresh);

    // The session refused while polling: signed out, the order kept and followed after signing in.
    simulator.admin(QStringLiteral("revoke"), { { "account", member } });
    ASSERT_TRUE(eventually([&] { return model->showAuthentication() && !Peer::paymentPollingRunning(*model); }, 5000))
        << "polling went on with a refused session";
    EXPECT_FALSE(model->user());
    EXPECT_EQ(model->authenticationErrorMessage(), QStringLiteral("登录状态已过期，请重新登录"));
    EXPECT_EQ(pendingOrderNo(), fresh);
    await(model->login(QString::fromLatin1(member), QString::fromLatin1(memberPassword), false));
    ASSERT_TRUE(model->currentOrder());
    EXPECT_EQ(model->currentOrder()->orderNo, fresh);
    EXPECT_TRUE(Peer::paymentPollingRunning(*model));
}

} // namespace
