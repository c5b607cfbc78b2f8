#pragma once

#include <ostream>
#include <string>

namespace veyra::helper {

struct ProxyHelperLocations {
    std::string ownPath; // the helper's own executable, inside the bundle it serves
    std::string socketPath; // used when systemd did not pass a socket
    std::string toolPath; // the networksetup program to run
};

// The whole daemon: requirement from the own path (or the refusal text on `errors` and
// status 1), the socket from systemd activation or bound here, then serving for ever.
// Returns only on failure.
int runProxyHelper(const ProxyHelperLocations &locations, std::ostream &errors);

} // namespace veyra::helper
