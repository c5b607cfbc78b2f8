#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

namespace veyra::helper {

// The only code the helper serves: the main executable of the bundle it was installed from,
// pinned by file identity and content at start-up.
struct DesignatedRequirement {
    std::string executablePath;
    dev_t device = 0;
    ino_t inode = 0;
    std::string sha256; // lower-case hex
};

// Name of the bundle's main executable inside Contents/MacOS.
inline constexpr const char *mainExecutableName = "VeyraNetworkAssistant";

// Printed on standard error, followed by a line feed, when there is no requirement.
inline constexpr const char *refusalText = "无法验证维拉网络助手代码签名，后台服务拒绝启动。";

// From the helper's own path: three components up must be a directory named "*.app" whose
// Contents and Contents/MacOS directories and main executable are owned by root and not
// writable by group or others (no symbolic links on the way). Otherwise nothing: anyone who
// could replace the executable could then talk to a root daemon.
std::optional<DesignatedRequirement> containingAppDesignatedRequirement(const std::string &ownPath);

// SHA-256 (hex) of everything readable from an open file descriptor, from offset 0.
// Nothing when reading fails.
std::optional<std::string> sha256OfDescriptor(int fd);

} // namespace veyra::helper
