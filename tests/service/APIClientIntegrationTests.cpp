// The service client against the simulator over real TLS on loopback.
#include "APIClient.h"
#include "AppInfo.h"
#include "ErrorExpectations.h"
#include "QRCodeRenderer.h"
#include "ServiceSimulator.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

using namespace veyra;
using namespace veyra::test;
using json::Json;

namespace {

constexpr const char *member = "13800138000";

class APIClientIntegration : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(simulator.started()); }

    std::unique_ptr<APIClient> client(std::optional<QString> token = std::nullopt)
    {
        return std::make_unique<APIClient>(std::move(token), simulator.clientOptions());
    }
    std::unique_ptr<APIClient> signedIn(bool active = false)
    {
        return client(simulator.signedInToken(QString::fromLatin1(member), active));
    }
    Json lastRequest(const std::string &pathPrefix)
    {
        Json found;
        for (const Json &request : simulator.requests())
            if (request.at("target").get<std::string>().rfind(pathPrefix, 0) == 0)
                found = request;
        return found;
    }

    ServiceSimulator simulator;
};

TEST_F(APIClientIntegration, SignsInAndReadsTheAccountPlansAndOrders)
{
    simulator.admin("accounts", { { "account", member }, { "password", "secret-pass" }, { "active", true } });
    auto api = client();
    // What each field of a reply means is the service_models fuzz target's; here, that each
    // endpoint is reached and its reply read.
    EXPECT_EQ(failureOf<AppError>(api->login(member, "wrong-pass", false)), "invalid_credentials 账号或密码错误");
    const AuthResult registered = await(api->login("13700000000", "new-secret", true));
    ASSERT_TRUE(registered.user.has_value());
    EXPECT_EQ(registered.user->account, "13700000000");
    api->setToken(await(api->login(member, "secret-pass", false)).token);

    // An order number travels as one path segment, to the order and to its code (the simulator
    // knows no order "VN 7" and no resource "8%").
    simulator.admin("orders", { { "account", member }, { "orderNo", "VN 7/8%" } });
    EXPECT_EQ(await(api->order("VN 7/8%")).orderNo, "VN 7/8%");
    const std::optional<QImage> image = QRCodeRenderer::image(await(api->orderQRCode("VN 7/8%")));
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->width(), 220);

    // Every reply shape the service uses decodes at every endpoint; disabled plans are passed on
    // (filtering is the caller's).
    for (const char *shape : { "bare", "data", "key", "mixed" }) {
        simulator.admin("envelope", { { "shape", shape } });
        EXPECT_EQ(await(api->currentUser()).account, member) << shape;
        EXPECT_EQ(await(api->plans()).size(), 5) << shape;
        const PaymentOrder next = await(api->createOrder("yearly", "alipay", QStringLiteral("key-") + shape));
        EXPECT_EQ(await(api->order(next.orderNo)).orderNo, next.orderNo) << shape;
    }
}

TEST_F(APIClientIntegration, HeadersFollowTheRules)
{
    auto api = signedIn();
    await(api->currentUser());
    const Json get = lastRequest("/api/v1/me");
    ASSERT_FALSE(get.is_null());
    EXPECT_FALSE(recordedHeader(get, "Content-Type"));
    EXPECT_EQ(recordedHeader(get, "Accept"), "application/json");
    EXPECT_EQ(recordedHeader(get, "User-Agent"), std::string("VeyraMac/") + AppInfo::version);
    EXPECT_EQ(recordedHeader(get, "X-Device-ID"), "test-device-0001");
    EXPECT_EQ(recordedHeader(get, "Authorization")->rfind("Bearer ", 0), 0u);
    EXPECT_FALSE(recordedHeader(get, "Idempotency-Key"));

    await(api->createOrder("monthly", "alipay", "mac-0f3e"));
    const Json post = lastRequest("/api/v1/orders");
    EXPECT_EQ(recordedHeader(post, "Content-Type"), "application/json");
    EXPECT_EQ(recordedHeader(post, "Idempotency-Key"), "mac-0f3e");
    EXPECT_EQ(
        Json::parse(post.at("body").get<std::string>()), (Json { { "planId", "monthly" }, { "method", "alipay" } }));

    // Sign-out carries no body, so no Content-Type either, but it states its empty length.
    await(api->logout());
    const Json logout = lastRequest("/api/v1/auth/logout");
    EXPECT_FALSE(recordedHeader(logout, "Content-Type"));
    EXPECT_EQ(recordedHeader(logout, "Content-Length"), "0");

    // No token, or an empty one: no Authorization at all; setToken counts for later requests.
    for (std::optional<QString> token : { std::optional<QString>(), std::optional<QString>(QString()) }) {
        await(client(token)->plans());
        EXPECT_FALSE(recordedHeader(lastRequest("/api/v1/plans"), "Authorization"));
    }
    api->setToken(std::nullopt);
    EXPECT_EQ(failureOf<APIClientError>(api->currentUser()), "unauthorized 登录状态已失效，请重新登录");
}

TEST_F(APIClientIntegration, FailuresByStatusAndSize)
{
    // One row per line of the failure table that the reply's status decides; what a body of
    // status 200 means is the service_models fuzz target's.
    const struct {
        const char *name;
        Json fault;
        bool authentication; // APIClientError rather than AppError
        const char *text;
    } failures[] = {
        { "500 with message", { { "status", 500 }, { "body", R"({"message":"数据库维护中"})" } }, false,
            "数据库维护中" },
        { "500 without message", { { "status", 500 }, { "body", "" } }, false, "服务器返回 HTTP 500。" },
        { "502 not JSON", { { "status", 502 }, { "body", "<html>bad gateway</html>" } }, false,
            "服务器返回 HTTP 502。" },
        { "401 with message", { { "status", 401 }, { "body", R"({"message":"令牌已过期"})" } }, true, "令牌已过期" },
        { "401 empty", { { "status", 401 }, { "body", "" } }, true, "服务器返回 HTTP 401。" },
        { "401 with a challenge",
            { { "status", 401 }, { "authenticate", "Bearer realm=\"api\"" },
                { "body", R"({"message":"令牌已过期"})" } },
            true, "令牌已过期" },
        { "401 with a Basic challenge", { { "status", 401 }, { "authenticate", "Basic realm=\"api\"" } }, true,
            "服务器返回 HTTP 401。" },
        { "403 with code", { { "status", 403 }, { "body", R"({"code":"forbidden","detail":"  "})" } }, true,
            "forbidden" },
        { "302 redirect", { { "status", 302 }, { "body", "" } }, false, "服务器返回 HTTP 302。" },
    };
    auto api = signedIn();
    for (const auto &row : failures) {
        simulator.admin("faults/clear", Json::object());
        Json fault = row.fault;
        fault["location"] = (simulator.origin(1) + "/api/v1/me").toStdString();
        simulator.fault("/api/v1/me", fault);
        const QString text = row.authentication ? failureOf<APIClientError>(api->currentUser())
                                                : failureOf<AppError>(api->currentUser());
        EXPECT_EQ(text, QString::fromUtf8(row.text)) << row.name;
    }
    // The redirect target never saw a request.
    for (const Json &request : simulator.requests())
        EXPECT_NE(request.at("localAddress"), "127.0.0.2");

    // The size limits are exact and enforced while reading.
    simulator.admin("faults/clear", Json::object());
    simulator.admin("orders", { { "account", member }, { "orderNo", "QR1" } });
    const QString tooLarge = "服务器响应超过安全大小限制。";
    const std::string model = R"({"user":{"account":"padded"}})";
    struct {
        const char *name;
        const char *path;
        Json fault;
        bool passes;
    } const sizes[] = {
        { "JSON at the limit", "/api/v1/me", { { "body", model }, { "size", APIClient::jsonLimit } }, true },
        { "JSON past it", "/api/v1/me", { { "body", model }, { "size", APIClient::jsonLimit + 1 } }, false },
        // The cap comes before the status: an oversized error page is still "too large".
        { "error page past it", "/api/v1/me", { { "status", 500 }, { "size", APIClient::jsonLimit + 1 } }, false },
        // Without a declared length the cap still holds, counted as the bytes arrive.
        { "undeclared at the limit", "/api/v1/me",
            { { "body", model }, { "size", APIClient::jsonLimit }, { "closeDelimited", true } }, true },
        { "undeclared past it", "/api/v1/me",
            { { "body", model }, { "size", APIClient::jsonLimit + 1 }, { "closeDelimited", true } }, false },
        { "image at the limit", "/api/v1/orders/QR1/qrcode", { { "size", APIClient::imageLimit } }, true },
        { "image past it", "/api/v1/orders/QR1/qrcode", { { "size", APIClient::imageLimit + 1 } }, false },
    };
    for (const auto &row : sizes) {
        Json fault = row.fault;
        fault["times"] = 1;
        if (!fault.contains("status"))
            fault["status"] = 200;
        simulator.fault(row.path, fault);
        const bool image = QString(row.path).endsWith("qrcode");
        if (!row.passes)
            EXPECT_EQ(image ? failureOf<AppError>(api->orderQRCode("QR1")) : failureOf<AppError>(api->currentUser()),
                tooLarge)
                << row.name;
        else if (image)
            EXPECT_EQ(await(api->orderQRCode("QR1")).size(), APIClient::imageLimit) << row.name;
        else
            EXPECT_EQ(await(api->currentUser()).account, "padded") << row.name;
    }
}

TEST_F(APIClientIntegration, TransportFailuresPassThroughPlainHttpIsRefusedAndAStallTimesOut)
{
    // Only the system's CAs are trusted without the test seam; nothing listens on port 1.
    APIClientOptions untrusted = simulator.clientOptions();
    untrusted.extraCACertificates.clear();
    EXPECT_FALSE(failureOf<SystemError>(APIClient(std::nullopt, untrusted).plans()).startsWith("<"));
    APIClientOptions closed = simulator.clientOptions();
    closed.baseURL = QUrl("https://127.0.0.1:1/api/v1/");
    EXPECT_FALSE(failureOf<SystemError>(APIClient(std::nullopt, closed).plans()).startsWith("<"));

    // A plain-HTTP server answering a well-formed model: the reply is HTTP but not HTTPS.
    QTcpServer plain;
    ASSERT_TRUE(plain.listen(QHostAddress::LocalHost));
    QObject::connect(&plain, &QTcpServer::newConnection, [&plain] {
        QTcpSocket *socket = plain.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
            socket->readAll();
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 21\r\n"
                          "Connection: close\r\n\r\n{\"account\":\"plain\"}  ");
            socket->disconnectFromHost();
        });
    });
    APIClientOptions options = simulator.clientOptions();
    options.baseURL = QUrl(QStringLiteral("http://127.0.0.1:%1/api/v1/").arg(plain.serverPort()));
    EXPECT_EQ(
        failureOf<AppError>(APIClient(std::nullopt, options).currentUser()), "后台请求被重定向到未受信任的地址。");

    // A stalled reply times out; the limit is shortened through the seam (the product waits 25 s).
    APIClientOptions impatient = simulator.clientOptions();
    impatient.requestTimeoutMs = 1'000;
    APIClient api(simulator.signedInToken(QString::fromLatin1(member)), impatient);
    simulator.fault("/api/v1/plans", { { "delayMs", 200 }, { "times", 1 } });
    EXPECT_EQ(await(api.plans()).size(), 5);
    simulator.fault("/api/v1/plans", { { "delayMs", 8'000 }, { "times", 1 } });
    EXPECT_EQ(failureOf<SystemError>(api.plans()), "The request timed out.");
}

// Pure pieces of the protocol, without a network. Envelopes, records and the server's message
// are the service_models fuzz target's replayed inputs.
TEST(APIClientProtocol, OrderNumbersAreOnePathSegment)
{
    // Unreserved characters and letters and digits of any script stay; the rest is escaped as UTF-8.
    const std::pair<const char *, const char *> escapes[] = { { "VN20261206000001", "VN20261206000001" },
        { "x-y.z_w~", "x-y.z_w~" }, { "订单٣", "订单٣" }, { "a/b c", "a%2Fb%20c" }, { "100%", "100%25" },
        { "?#&+=:", "%3F%23%26%2B%3D%3A" }, { "€", "%E2%82%AC" } };
    for (const auto &[number, escaped] : escapes)
        EXPECT_EQ(APIClient::encodeOrderNumber(QString::fromUtf8(number)), QString::fromUtf8(escaped)) << number;

    APIClientOptions options;
    options.baseURL = QUrl("https://api.example.test/api/v1/");
    APIClient api(QStringLiteral("tok"), options);
    const QNetworkRequest get = api.makeRequest("orders/a%2Fb", std::nullopt, false);
    EXPECT_EQ(get.url().toString(QUrl::FullyEncoded), "https://api.example.test/api/v1/orders/a%2Fb");
    EXPECT_EQ(get.transferTimeout(), 25'000);
    // A dot segment spelled with escapes is refused, not resolved away.
    EXPECT_THROW(api.makeRequest("orders/%2E%2E/qrcode", std::nullopt, false), AppError);
}

} // namespace
