#pragma once

#include "SettingsRecord.h"

#include "veyra/ipc/ProxyHelperRecords.h"

#include <optional>
#include <set>
#include <string>

namespace veyra::helper {

// What even a genuine caller may make the helper do, so that a caller talked into it (the
// application restoring from a journal some other process of the user wrote) can never send the
// machine's traffic anywhere off the machine. A line (grammar-checked already) is accepted when it
//  - points a proxy of a service at this machine (127.0.0.1, localhost, ::1), any port;
//  - switches something off;
//  - switches a proxy on that an earlier line of the same request pointed at this machine, or
//    that was on in the service's record;
//  - sets a bypass list of only this machine's and the link's own names (the application's
//    list), or exactly the recorded list (an empty one also where nothing is recorded);
//  - puts a proxy server, the automatic-proxy address or its switches back to the recorded value.
// Anything else is refused. Nothing when every line passes, else the reason (naming the line).
std::optional<std::string> containmentProblem(const ipc::CommandList &commands, const SettingsRecord::Services &record);

// The services some line of the request points at this machine: their settings are recorded
// before such a request runs.
std::set<std::string> servicesPointedAtLoopback(const ipc::CommandList &commands);

} // namespace veyra::helper
