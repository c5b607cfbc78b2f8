#pragma once

#include <chrono>
#include <ostream>
#include <string>

namespace veyra::helper {

struct ProxyHelperLocations {
    std::string ownPath; // the helper's own executable, inside the bundle it serves
    std::string socketPath; // used when systemd did not pass a socket
    std::string toolPath; // the networksetup program to run
    std::string recordFile; // the settings as they were before the helper pointed them here
};

// How long a socket-activated helper waits with no connection in flight before it exits.
// The requirement is pinned at start, so after the application is upgraded the old pin would
// refuse every request; exiting when idle lets the service manager start a fresh helper, with
// a fresh pin, on the next connection (which waits in the socket meanwhile).
inline constexpr std::chrono::milliseconds defaultActivatedIdleExit = std::chrono::seconds(30);

// The whole daemon: requirement from the own path (or the refusal text on `errors` and
// status 1), the socket from systemd activation or bound here, readiness told to the service
// manager, then serving. Socket-activated it returns 0 after `activatedIdleExit` without a
// connection in flight; binding its own socket it serves for ever. Returns 1 on failure.
int runProxyHelper(const ProxyHelperLocations &locations, std::ostream &errors,
    std::chrono::milliseconds activatedIdleExit = defaultActivatedIdleExit);

} // namespace veyra::helper
