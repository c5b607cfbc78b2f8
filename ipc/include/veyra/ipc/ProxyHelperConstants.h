#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace veyra::ipc::ProxyHelperConstants {

// The application's reverse-DNS identifier. Kept here as well because this module must not
// depend on the application's generated headers; the application checks both agree.
inline constexpr std::string_view appIdentifier = "net.veyra.networkassistant";

// Name of the helper's service; the socket lives at socketPath().
inline constexpr std::string_view machServiceName = "net.veyra.networkassistant.proxy-helper";

inline constexpr std::string_view networkSetupPath = "/usr/sbin/networksetup";

// Largest encoded request either side accepts; exactly this many bytes is still accepted.
inline constexpr std::size_t maximumRequestBytes = 131'072;

// "/run/" + machServiceName + ".sock"
std::string socketPath();

} // namespace veyra::ipc::ProxyHelperConstants
