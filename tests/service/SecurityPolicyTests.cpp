#include "AppSettings.h"
#include "ErrorExpectations.h"
#include "SecurityPolicy.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/socket.h>

using namespace veyra;
using Address = SecurityPolicy::ResolvedAddress;

namespace {

// A resolved address from its text, IPv6 when it has a colon.
Address ip(const char *text)
{
    const int family = QByteArray(text).contains(':') ? AF_INET6 : AF_INET;
    QByteArray bytes(family == AF_INET6 ? 16 : 4, 0);
    inet_pton(family, text, bytes.data());
    return { family, bytes };
}

SecurityPolicy::Resolver resolvingTo(QList<Address> addresses)
{
    return [addresses](const QString &) { return std::optional<QList<Address>>(addresses); };
}

const SecurityPolicy::Resolver publicHost = resolvingTo({ ip("203.0.113.7") });
const SecurityPolicy::Resolver unresolved = [](const QString &) { return std::optional<QList<Address>>(); };

const auto failure = [](const std::function<void()> &call) { return test::failureOfCall<AppError>(call); };

enum class Check { host, line, checkout };

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

TEST(SecurityPolicy, InternationalisedNamesAreResolvedInTheirAsciiForm)
{
    QStringList asked;
    const SecurityPolicy::Resolver recording = [&asked](const QString &host) {
        asked << host;
        return std::optional<QList<Address>>({ ip("203.0.113.7") });
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

TEST(SecurityPolicy, SystemResolverHandsBackTheAddresses)
{
    const auto addresses = SecurityPolicy::systemResolver()("127.0.0.2");
    ASSERT_TRUE(addresses && !addresses->isEmpty());
    EXPECT_EQ(addresses->first().family, AF_INET);
    EXPECT_EQ(addresses->first().bytes, ip("127.0.0.2").bytes);
}

TEST(SecurityPolicy, HostsLinesAndCheckoutAddresses)
{
    const char *const invalidLine = "官方线路地址无效，必须使用不含账号密码的 HTTPS 地址。";
    const char *const localLine = "官方线路地址不能指向本机或局域网主机。";
    const char *const badCheckout = "支付服务器返回了无效的 HTTPS 收银台地址。";
    // One address checked one way with one resolver; "" when it passes.
    const struct {
        Check check;
        const char *text;
        SecurityPolicy::Resolver resolver;
        const char *refusal;
    } cases[] = {
        { Check::host, "line.example", resolvingTo({ ip("10.1.2.3"), ip("10.9.9.9") }), resolvesLocal },
        { Check::host, "line.example", resolvingTo({ ip("203.0.113.1"), ip("fd00::5") }), resolvesLocalV6 },
        { Check::host, "line.example", unresolved, "无法解析服务器地址。" },
        { Check::host, "line.example", resolvingTo({}), "无法解析服务器地址。" },
        { Check::host, "line.example", resolvingTo({ { AF_UNIX, {} } }), "服务器没有可用的网络地址。" },
        { Check::host, "127.0.0.1", publicHost, "目标地址不能指向本机或局域网。" },
        { Check::host, "line.example", resolvingTo({ { AF_UNIX, {} }, ip("2001:db8::1") }), "" },
        { Check::line, "https://user@line.example/s", publicHost, invalidLine },
        { Check::line, "https://:@line.example/s", publicHost, invalidLine },
        { Check::line, "http://line.example/s", publicHost, invalidLine },
        { Check::line, "https:///nohost", publicHost, invalidLine },
        { Check::line, "https://127.0.0.1/s", publicHost, localLine },
        { Check::line, "https://line.example/s", resolvingTo({ ip("192.168.0.9") }), resolvesLocal },
        { Check::checkout, "https://checkout.wx.tenpay.com/x", publicHost, "" },
        { Check::checkout, "https://pay.veyra.example/checkout/1", publicHost, "" },
        { Check::checkout, " HTTPS://mclient.alipay.com/pay?o=1 ", publicHost, "" },
        { Check::checkout, "https://eviltenpay.com/x", publicHost,
            "为防止跳转到仿冒页面，已阻止未授权的收银台域名：eviltenpay.com" },
        { Check::checkout, "https://mclient.alipay.com.evil.example/x", publicHost,
            "为防止跳转到仿冒页面，已阻止未授权的收银台域名：mclient.alipay.com.evil.example" },
        { Check::checkout, "http://mclient.alipay.com/x", publicHost, badCheckout },
        { Check::checkout, "https://u:p@mclient.alipay.com/x", publicHost, badCheckout },
        { Check::checkout, "https://mclient.alipay.com/x", resolvingTo({ ip("::1") }), resolvesLocalV6 },
    };
    for (const auto &c : cases)
        EXPECT_EQ(failure([&] {
            if (c.check == Check::host)
                SecurityPolicy::ensurePublicHost(c.text, c.resolver);
            else if (c.check == Check::line)
                SecurityPolicy::officialLineURL(c.text, c.resolver);
            else
                SecurityPolicy::paymentURL(c.text, c.resolver);
        }),
            *c.refusal ? QString::fromUtf8(c.refusal) : QStringLiteral("<no error>"))
            << c.text;

    // The settings' own checks, in their order, are the settings fuzz target's replayed inputs.
    AppSettings settings;
    settings.uiScalePercent = 141;
    EXPECT_EQ(failure([&] { SecurityPolicy::validate(settings); }), "界面缩放必须在 90% 到 140% 之间。");
}
