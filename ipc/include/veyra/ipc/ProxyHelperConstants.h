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

// The helper's answer to a request that would point a service anywhere but this machine, or
// put back settings it holds no record of. The application tells it from other failures by it:
// such a request can never succeed, however often it is sent.
inline constexpr std::string_view containmentRefusal
    = "后台服务只接受指向本机的代理设置和恢复到原有设置的命令，已拒绝这次请求。";

// "/run/" + machServiceName + ".sock"
std::string socketPath();

} // namespace veyra::ipc::ProxyHelperConstants
