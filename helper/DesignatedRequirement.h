#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

namespace veyra::helper {

// What identifies the content of a root-owned file that group and others cannot write without
// reading it: only root can change such a file, and every change of its bytes, owner or mode
// moves its change time (which no one can set), so while all of these stay the same the bytes do.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified {};
    timespec changed {};
    uid_t owner = 0;
    mode_t mode = 0;

    static FileIdentity of(const struct stat &info);
    bool operator==(const FileIdentity &other) const;
};

// The only code the helper serves: the main executable of the bundle it was installed from,
// pinned by path, file identity and content at start-up.
struct DesignatedRequirement {
    std::string executablePath;
    FileIdentity identity;
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

} // namespace veyra::helper
