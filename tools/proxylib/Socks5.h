#pragma once

#include <QByteArray>
#include <optional>

namespace veyra::proxy {

// Whole length of a SOCKS5 request or reply (RFC 1928) from its first five bytes: version,
// command or reply code, reserved, address type, and the first address byte, which for a
// domain name is its length. An unknown address type leaves no framing to follow: nullopt.
// Callers wait for five bytes before asking; fewer also give nullopt rather than a guess.
std::optional<qint64> socks5MessageLength(const QByteArray &head);

} // namespace veyra::proxy
