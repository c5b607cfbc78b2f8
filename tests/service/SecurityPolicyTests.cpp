#include "AppSettings.h"
#include "ErrorExpectations.h"
#include "SecurityPolicy.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/socket.h>

using namespace veyra;
using Address = SecurityPolicy::ResolvedAddress;

namespace {

Address v4(const char *text)
{
    QByteArray bytes(4, 0);
    inet_pton(AF_INET, text, bytes.data());
    return { AF_INET, bytes };
}

Address v6(const char *text)
{
    QByteArray bytes(16, 0);
    inet_pton(AF_INET6, text, bytes.data());
    return { AF_INET6, bytes };
}

SecurityPolicy::Resolver resolvingTo(QList<Address> addresses)
{
    return [addresses](const QString &) { return std::optional<QList<Address>>(addresses); };
}

const SecurityPolicy::Resolver publicHost = resolvingTo({ v4("203.0.113.7") });
const SecurityPolicy::Resolver unresolved = [](const QString &) { return std::optional<QList<Address>>(); };

QString failure(const std::function<void()> &call)
{
    return test::failureOfCall<AppError>(call);
}

// One address checked with one resolver; "" when it passes.
struct AddressCase {
    const char *text;
    SecurityPolicy::Resolver resolver;
    const char *refusal;
};

const char *const resolvesLocal = "服务器解析到本机或局域网地址，已拒绝访问。";
const char *const resolvesLocalV6 = "服务器解析到本机或局域网 IPv6 地址，已拒绝访问。";

} // namespace

TEST(SecurityPolicy, LocalRangesAtTheirBoundaries)
{
    for (const char *local : { "0.1.2.3", "10.0.0.1", "127.255.255.255", "169.254.0.1", "172.16.0.0", "172.31.255.255",
             "192.168.1.1", "[::1]", "fc00::1", "fdff::1", "fe80::1", "febf::1", "ff02::1", "LOCALHOST",
             "printer.local", "a.localhost", "::ffff:127.0.0.1" })
        EXPECT_TRUE(SecurityPolicy::isLocalHostname(local)) << local;
    for (const char *open : { "172.32.0.1", "172.15.255.255", "169.253.0.1", "100.64.0.1", "198.18.0.1", "11.0.0.1",
             "::", "fec0::1", "2001:db8::1", "example.com", "local.example.com", "192.169.0.1" })
        EXPECT_FALSE(SecurityPolicy::isLocalHostname(open)) << open;
}

TEST(SecurityPolicy, ResolverAnswersDecide)
{
    const AddressCase cases[] = {
        { "line.example", resolvingTo({ v4("10.1.2.3"), v4("10.9.9.9") }), resolvesLocal },
        { "line.example", resolvingTo({ v4("203.0.113.1"), v6("fd00::5") }), resolvesLocalV6 },
        { "line.example", unresolved, "无法解析服务器地址。" },
        { "line.example", resolvingTo({}), "无法解析服务器地址。" },
        { "line.example", resolvingTo({ { AF_UNIX, {} } }), "服务器没有可用的网络地址。" },
        { "127.0.0.1", publicHost, "目标地址不能指向本机或局域网。" },
        { "line.example", resolvingTo({ { AF_UNIX, {} }, v6("2001:db8::1") }), "" },
    };
    for (const AddressCase &c : cases)
        EXPECT_EQ(failure([&] { SecurityPolicy::ensurePublicHost(c.text, c.resolver); }),
            *c.refusal ? QString::fromUtf8(c.refusal) : QStringLiteral("<no error>"))
            << c.text;
}

TEST(SecurityPolicy, InternationalisedNamesAreResolvedInTheirAsciiForm)
{
    QStringList asked;
    const SecurityPolicy::Resolver recording = [&asked](const QString &host) {
        asked << host;
        return std::optional<QList<Address>>({ v4("203.0.113.7") });
    };
    const QUrl url = SecurityPolicy::officialLineURL(QString::fromUtf8("https://线路.例子.com/s"), recording);
    EXPECT_EQ(asked, QStringList({ "xn--on0a042a.xn--fsqu00a.com" }));
    EXPECT_EQ(QUrl::toAce(url.host()), "xn--on0a042a.xn--fsqu00a.com");
    // An IPv6 literal is handed over as it is, without its brackets.
    asked.clear();
    SecurityPolicy::ensurePublicHost("[2001:db8::1]", recording);
    EXPECT_EQ(asked, QStringList({ "2001:db8::1" }));
    // A full-width spelling of a local name is still a local name.
    EXPECT_EQ(failure([&] { SecurityPolicy::ensurePublicHost(QString::fromUtf8("ｌｏｃａｌｈｏｓｔ"), recording); }),
        "目标地址不能指向本机或局域网。");
}

TEST(SecurityPolicy, SystemResolverRefusesLoopbackNames)
{
    // "localhost" is caught by the literal check; a numeric loopback goes through getaddrinfo.
    EXPECT_EQ(failure([] { SecurityPolicy::ensurePublicHost("localhost"); }), "目标地址不能指向本机或局域网。");
    auto addresses = SecurityPolicy::systemResolver()("127.0.0.2");
    ASSERT_TRUE(addresses);
    ASSERT_FALSE(addresses->isEmpty());
    EXPECT_EQ(addresses->first().family, AF_INET);
}

TEST(SecurityPolicy, OfficialLineAndCheckoutAddresses)
{
    const char *const invalidLine = "官方线路地址无效，必须使用不含账号密码的 HTTPS 地址。";
    const char *const localLine = "官方线路地址不能指向本机或局域网主机。";
    const AddressCase lines[] = {
        { "https://user@line.example/s", publicHost, invalidLine },
        { "https://:secret@line.example/s", publicHost, invalidLine },
        { "http://line.example/s", publicHost, invalidLine },
        { "https:///nohost", publicHost, invalidLine },
        { "https://[::1]/s", publicHost, localLine },
        { "https://127.0.0.1/s", publicHost, localLine },
        { "https://line.example/s", resolvingTo({ v4("192.168.0.9") }), resolvesLocal },
    };
    for (const AddressCase &c : lines)
        EXPECT_EQ(failure([&] { SecurityPolicy::officialLineURL(c.text, c.resolver); }), QString::fromUtf8(c.refusal))
            << c.text;
    const QUrl url = SecurityPolicy::officialLineURL("  HTTPS://line.example/sub?t=1 \n", publicHost);
    EXPECT_EQ(url.host(), "line.example");
    EXPECT_EQ(url.query(), "t=1");

    const char *const badCheckout = "支付服务器返回了无效的 HTTPS 收银台地址。";
    const AddressCase checkouts[] = {
        { "https://checkout.wx.tenpay.com/x", publicHost, "" },
        { "https://pay.veyra.example/checkout/1", publicHost, "" },
        { "https://eviltenpay.com/x", publicHost, "为防止跳转到仿冒页面，已阻止未授权的收银台域名：eviltenpay.com" },
        { "https://mclient.alipay.com.evil.example/x", publicHost,
            "为防止跳转到仿冒页面，已阻止未授权的收银台域名：mclient.alipay.com.evil.example" },
        { "http://mclient.alipay.com/x", publicHost, badCheckout },
        { "https://u:p@mclient.alipay.com/x", publicHost, badCheckout },
        { "https://mclient.alipay.com/x", resolvingTo({ v6("::1") }), resolvesLocalV6 },
    };
    for (const AddressCase &c : checkouts)
        EXPECT_EQ(failure([&] { SecurityPolicy::paymentURL(c.text, c.resolver); }),
            *c.refusal ? QString::fromUtf8(c.refusal) : QStringLiteral("<no error>"))
            << c.text;
    EXPECT_EQ(
        SecurityPolicy::paymentURL(" HTTPS://mclient.alipay.com/pay?o=1 ", publicHost).host(), "mclient.alipay.com");
}

TEST(SecurityPolicy, SettingsChecksInOrder)
{
    AppSettings settings;
    EXPECT_NO_THROW(SecurityPolicy::validate(settings));
    settings.mixedPort = 1024;
    settings.socksPort = 1025;
    settings.controllerPort = 65535;
    EXPECT_NO_THROW(SecurityPolicy::validate(settings));

    const QString range = "网络端口必须在 1024 到 65535 之间。";
    AppSettings low = settings;
    low.mixedPort = 80;
    low.socksPort = 80; // the range check comes before the duplicate check
    EXPECT_EQ(failure([&] { SecurityPolicy::validate(low); }), range);
    AppSettings high = settings;
    high.controllerPort = 65536;
    EXPECT_EQ(failure([&] { SecurityPolicy::validate(high); }), range);

    AppSettings duplicate = settings;
    duplicate.controllerPort = duplicate.socksPort;
    duplicate.uiScalePercent = 10; // the duplicate check comes before the scale check
    EXPECT_EQ(failure([&] { SecurityPolicy::validate(duplicate); }), "三个网络端口不能重复。");

    AppSettings scale = settings;
    scale.uiScalePercent = 89;
    EXPECT_EQ(failure([&] { SecurityPolicy::validate(scale); }), "界面缩放必须在 90% 到 140% 之间。");
    scale.uiScalePercent = 141;
    EXPECT_EQ(failure([&] { SecurityPolicy::validate(scale); }), "界面缩放必须在 90% 到 140% 之间。");
    scale.uiScalePercent = 140;
    EXPECT_NO_THROW(SecurityPolicy::validate(scale));
}
