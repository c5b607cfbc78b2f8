#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

namespace veyra::helper {

// What makes a process that runs the right executable still untrustworthy: another process
// tracing any of its threads, a system-call filter on any of them, executable code that does not come from a protected file (an injected library,
// anonymous or memfd code), or a dynamic-loader variable in the environment it started with.
// Nothing when none of these is found; otherwise the reason, for the helper's log. A process
// whose details cannot be read is refused as well.
std::optional<std::string> peerIntegrityProblem(pid_t pid);

} // namespace veyra::helper
