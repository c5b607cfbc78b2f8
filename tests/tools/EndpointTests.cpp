#include "Endpoint.h"
#include "Socks5.h"

#include <gtest/gtest.h>

namespace veyra::proxy {
namespace {

TEST(ProxyAuthorities, ParseAndFormatNamesAddressesAndBracketedIpv6)
{
    const struct {
        const char *text;
        quint16 defaultPort;
        std::optional<Endpoint> parsed;
    } cases[] = {
        { "example.com:443", 0, Endpoint { QStringLiteral("example.com"), 443 } },
        { "127.0.0.1:8080", 0, Endpoint { QStringLiteral("127.0.0.1"), 8080 } },
        { "[::1]:9090", 0, Endpoint { QStringLiteral("::1"), 9090 } },
        { "[fe80::1]", 80, Endpoint { QStringLiteral("fe80::1"), 80 } },
        { "example.com", 80, Endpoint { QStringLiteral("example.com"), 80 } },
        { "example.com", 0, std::nullopt },
        { "example.com:0", 0, std::nullopt },
        { "example.com:65536", 0, std::nullopt },
        { "example.com:http", 0, std::nullopt },
        { "[::1", 0, std::nullopt },
        { "[::1]x80", 0, std::nullopt },
        { ":80", 0, std::nullopt },
        { "::1", 0, std::nullopt }, // a bare IPv6 literal has no port to split off
    };
    for (const auto &c : cases)
        EXPECT_EQ(parseAuthority(QLatin1String(c.text), c.defaultPort), c.parsed) << c.text;
    EXPECT_EQ((Endpoint { QStringLiteral("::1"), 443 }).authority(), QStringLiteral("[::1]:443"));
    EXPECT_EQ((Endpoint { QStringLiteral("a.example"), 8 }).authority(), QStringLiteral("a.example:8"));
}

// A request's length follows its address type; a domain name is preceded by its length byte,
// read as unsigned. Unknown types and short heads have none.
TEST(Socks5Framing, LengthFollowsTheAddressType)
{
    const auto head = [](char type, char first) { return QByteArray("\x05\x00\x00", 3) + type + first; };
    const std::pair<QByteArray, std::optional<qint64>> cases[] = {
        { head(0x01, 127), 10 },
        { head(0x04, 0), 22 },
        { head(0x03, 11), 4 + 1 + 11 + 2 },
        { head(0x03, 0), 7 },
        { head(0x03, char(0xff)), 4 + 1 + 255 + 2 },
        { head(0x00, 4), std::nullopt },
        { head(0x02, 4), std::nullopt },
        { head(0x05, 4), std::nullopt },
        { head(char(0xff), 4), std::nullopt },
        { QByteArray("\x05\x00\x00\x01", 4), std::nullopt },
        { QByteArray(), std::nullopt },
    };
    for (const auto &[message, length] : cases)
        EXPECT_EQ(socks5MessageLength(message), length) << message.toHex().constData();
}

} // namespace
} // namespace veyra::proxy
