// Pure pieces of the service protocol, without a network.
#include "APIClient.h"
#include "ErrorExpectations.h"

#include <gtest/gtest.h>

using namespace veyra;
using json::Json;

TEST(APIClientProtocol, OrderNumberEscaping)
{
    EXPECT_EQ(APIClient::encodeOrderNumber("VN20261206000001"), "VN20261206000001");
    EXPECT_EQ(APIClient::encodeOrderNumber("a/b c"), "a%2Fb%20c");
    EXPECT_EQ(APIClient::encodeOrderNumber("100%"), "100%25");
    EXPECT_EQ(APIClient::encodeOrderNumber("x-y.z_w~"), "x-y.z_w~");
    EXPECT_EQ(APIClient::encodeOrderNumber("?#&+=:"), "%3F%23%26%2B%3D%3A");
    // Letters and digits of other scripts stay as they are; symbols are escaped as UTF-8.
    EXPECT_EQ(APIClient::encodeOrderNumber("订单٣"), "订单٣");
    EXPECT_EQ(APIClient::encodeOrderNumber("€"), "%E2%82%AC");
}

TEST(APIClientProtocol, ServerMessageOrderTrimAndRepeats)
{
    EXPECT_EQ(APIClient::serverMessage(Json { { "message", "账号或密码错误" }, { "code", "invalid_credentials" } }),
        "invalid_credentials 账号或密码错误");
    EXPECT_EQ(
        APIClient::serverMessage(Json { { "detail", "d" }, { "message", "m" }, { "error", "e" }, { "code", "c" } }),
        "c e m d");
    EXPECT_EQ(APIClient::serverMessage(Json { { "error", " same\n" }, { "message", "same" }, { "detail", "\tsame" } }),
        "same");
    EXPECT_EQ(APIClient::serverMessage(Json { { "code", 401 }, { "message", "" }, { "detail", "  " } }), "");
    EXPECT_EQ(APIClient::serverMessage(Json::array({ "message" })), "");
}

TEST(APIClientProtocol, RequestCarriesTheFixedHeaders)
{
    APIClientOptions options;
    options.baseURL = QUrl("https://api.example.test/api/v1/");
    options.deviceID = "device";
    APIClient api(QStringLiteral("tok"), options);
    const QNetworkRequest get = api.makeRequest("orders/a%2Fb", std::nullopt, false);
    EXPECT_EQ(get.url().toString(QUrl::FullyEncoded), "https://api.example.test/api/v1/orders/a%2Fb");
    EXPECT_EQ(get.rawHeader("Authorization"), "Bearer tok");
    EXPECT_FALSE(get.hasRawHeader("Content-Type"));
    EXPECT_EQ(get.transferTimeout(), 25'000);
    EXPECT_EQ(
        get.attribute(QNetworkRequest::RedirectPolicyAttribute).toInt(), int(QNetworkRequest::ManualRedirectPolicy));
    EXPECT_EQ(get.rawHeaderList(), (QList<QByteArray> { "Accept", "User-Agent", "X-Device-ID", "Authorization" }));

    // The escapes survive the URL: nothing is decoded back into a delimiter on the way out.
    const QString escaped = APIClient::encodeOrderNumber("!*'();:@&=+$,[]/ %?#");
    EXPECT_EQ(api.makeRequest("orders/" + escaped, std::nullopt, false).url().toEncoded(),
        "https://api.example.test/api/v1/orders/%21%2A%27%28%29%3B%3A%40%26%3D%2B%24%2C%5B%5D%2F%20%25%3F%23");

    // An order number of dots cannot be one path segment: it is refused, not resolved away.
    for (const QString &path : { "orders/" + APIClient::encodeOrderNumber("."),
             "orders/" + APIClient::encodeOrderNumber(".."), QStringLiteral("orders/%2E%2E/qrcode") })
        EXPECT_THROW(api.makeRequest(path, std::nullopt, false), AppError) << path.toStdString();
    EXPECT_EQ(
        api.makeRequest("orders/" + APIClient::encodeOrderNumber("a/../b"), std::nullopt, false).url().toEncoded(),
        "https://api.example.test/api/v1/orders/a%2F..%2Fb");

    api.setToken(QString());
    const QNetworkRequest post = api.makeRequest("orders", QStringLiteral("mac-1"), true);
    EXPECT_EQ(post.rawHeaderList(),
        (QList<QByteArray> { "Accept", "User-Agent", "X-Device-ID", "Idempotency-Key", "Content-Type" }));
}
