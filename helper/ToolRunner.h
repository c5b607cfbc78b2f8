#pragma once

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

namespace veyra::helper {

// The tool could not be started at all; what() is the system's reason.
class ToolLaunchError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ToolOutcome {
    int exitStatus = -1; // the exit code, or 128 + signal number when killed
    std::string standardOutput;
    std::string standardError;
    bool timedOut = false; // killed because it ran past its time limit
};

// What a tool run as root gets instead of the daemon's own environment, so nothing a service
// manager, a debugging session or an installer left in it (loader variables, locale paths, a
// PATH with writable directories) reaches the tool: PATH=/usr/sbin:/usr/bin:/sbin:/bin and
// LANG=C.UTF-8, nothing else.
std::vector<std::string> minimalToolEnvironment();

// What the tool may keep of the caller's capabilities. A tool the helper runs keeps none.
enum class ToolCapabilities { none, inherited };

// Runs `program` with `arguments` and exactly `environment` ("NAME=value" entries; standard
// input from /dev/null) and collects both output streams while it runs, so a child that writes
// more than a pipe holds cannot block itself and the helper thread waiting for it. Each stream
// keeps at most `keptBytes`; the rest is read and dropped. A tool still running after
// `timeLimit` is killed: one hung tool must not hold the helper (and every later request
// waiting behind it) for ever.
ToolOutcome runTool(const std::string &program, const std::vector<std::string> &arguments,
    const std::vector<std::string> &environment = minimalToolEnvironment(), std::size_t keptBytes = 65'536,
    std::chrono::milliseconds timeLimit = std::chrono::seconds(10), ToolCapabilities capabilities = ToolCapabilities::none);

// Turns raw bytes into valid UTF-8, replacing every invalid sequence with U+FFFD.
std::string repairUtf8(const std::string &bytes);

// Strips spaces, tabs and line breaks from both ends.
std::string trimmed(const std::string &text);

} // namespace veyra::helper
