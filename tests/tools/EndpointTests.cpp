#include "Endpoint.h"

#include <gtest/gtest.h>

namespace veyra::proxy {
namespace {

TEST(ProxyAuthorities, ParseNamesAddressesAndBracketedIpv6)
{
    EXPECT_EQ(parseAuthority(QStringLiteral("example.com:443")), (Endpoint { QStringLiteral("example.com"), 443 }));
    EXPECT_EQ(parseAuthority(QStringLiteral("127.0.0.1:8080")), (Endpoint { QStringLiteral("127.0.0.1"), 8080 }));
    EXPECT_EQ(parseAuthority(QStringLiteral("[::1]:9090")), (Endpoint { QStringLiteral("::1"), 9090 }));
    EXPECT_EQ(parseAuthority(QStringLiteral("[fe80::1]"), 80), (Endpoint { QStringLiteral("fe80::1"), 80 }));
    EXPECT_EQ(parseAuthority(QStringLiteral("example.com"), 80), (Endpoint { QStringLiteral("example.com"), 80 }));
}

TEST(ProxyAuthorities, RejectMissingOrImpossiblePorts)
{
    EXPECT_EQ(parseAuthority(QStringLiteral("example.com")), std::nullopt);
    EXPECT_EQ(parseAuthority(QStringLiteral("example.com:0")), std::nullopt);
    EXPECT_EQ(parseAuthority(QStringLiteral("example.com:65536")), std::nullopt);
    EXPECT_EQ(parseAuthority(QStringLiteral("example.com:http")), std::nullopt);
    EXPECT_EQ(parseAuthority(QStringLiteral("[::1")), std::nullopt);
    EXPECT_EQ(parseAuthority(QStringLiteral("[::1]x80")), std::nullopt);
    EXPECT_EQ(parseAuthority(QStringLiteral(":80")), std::nullopt);
    // A bare IPv6 literal has no port to split off.
    EXPECT_EQ(parseAuthority(QStringLiteral("::1")), std::nullopt);
}

TEST(ProxyAuthorities, FormatIpv6InBrackets)
{
    EXPECT_EQ((Endpoint { QStringLiteral("::1"), 443 }).authority(), QStringLiteral("[::1]:443"));
    EXPECT_EQ((Endpoint { QStringLiteral("10.0.0.1"), 80 }).authority(), QStringLiteral("10.0.0.1:80"));
    EXPECT_EQ((Endpoint { QStringLiteral("a.example"), 8 }).authority(), QStringLiteral("a.example:8"));
}

} // namespace
} // namespace veyra::proxy
