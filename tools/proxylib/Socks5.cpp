#include "Socks5.h"

namespace veyra::proxy {

std::optional<qint64> socks5MessageLength(const QByteArray &head)
{
    if (head.size() < 5)
        return std::nullopt;
    // Four header bytes, the address, then a two-byte port.
    switch (head[3]) {
    case 0x01:
        return 4 + 4 + 2;
    case 0x04:
        return 4 + 16 + 2;
    case 0x03:
        return 4 + 1 + uchar(head[4]) + 2;
    default:
        return std::nullopt;
    }
}

} // namespace veyra::proxy
