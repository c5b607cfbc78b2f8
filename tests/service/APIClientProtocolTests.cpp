// Pure pieces of the service protocol, without a network. Envelopes, records and the server's
// message are the service_models fuzz target's replayed inputs.
#include "APIClient.h"
#include "Errors.h"

#include <gtest/gtest.h>

using namespace veyra;

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
