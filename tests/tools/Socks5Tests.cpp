#include "Socks5.h"

#include <gtest/gtest.h>

namespace veyra::proxy {
namespace {

QByteArray head(char addressType, char firstAddressByte)
{
    return QByteArray("\x05\x00\x00", 3) + addressType + firstAddressByte;
}

TEST(Socks5Framing, LengthFollowsTheAddressType)
{
    EXPECT_EQ(socks5MessageLength(head(0x01, 127)), 10);
    EXPECT_EQ(socks5MessageLength(head(0x04, 0)), 22);
    // A domain name is preceded by its length byte, read as unsigned.
    EXPECT_EQ(socks5MessageLength(head(0x03, 11)), 4 + 1 + 11 + 2);
    EXPECT_EQ(socks5MessageLength(head(0x03, 0)), 7);
    EXPECT_EQ(socks5MessageLength(head(0x03, char(0xff))), 4 + 1 + 255 + 2);
}

TEST(Socks5Framing, UnknownAddressTypesAndShortHeadsHaveNoLength)
{
    for (char type : { char(0x00), char(0x02), char(0x05), char(0xff) })
        EXPECT_EQ(socks5MessageLength(head(type, 4)), std::nullopt) << int(uchar(type));
    EXPECT_EQ(socks5MessageLength(QByteArray("\x05\x00\x00\x01", 4)), std::nullopt);
    EXPECT_EQ(socks5MessageLength(QByteArray()), std::nullopt);
}

} // namespace
} // namespace veyra::proxy
