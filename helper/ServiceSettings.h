#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace veyra::helper {

struct EndpointSettings {
    bool enabled = false;
    std::string server;
    std::int64_t port = 0;
};

// Everything the helper may change on one network service, as the tool reports it.
struct ServiceSettings {
    EndpointSettings web;
    EndpointSettings secureWeb;
    EndpointSettings socks;
    std::vector<std::string> bypassDomains;
    std::string autoProxyURL;
    bool autoProxyEnabled = false;
    bool autoDiscoveryEnabled = false;

    // One of the three proxies is switched on and points at this machine.
    bool pointsAtLoopback() const;
    // The endpoint a "-set<kind>" / "-set<kind>state" verb names ("webproxy", ...); nullptr
    // for any other word.
    const EndpointSettings *endpoint(const std::string &kind) const;

    nlohmann::json toJson() const;
    static ServiceSettings fromJson(const nlohmann::json &json);
};

// 127.0.0.1, localhost or ::1, in any letter case.
bool isLoopbackHost(const std::string &host);

// Reads the service's settings with the tool's read verbs, interpreting their output exactly as
// the application does when it keeps its own journal, so both hold the same values. Throws
// std::runtime_error with the tool's error text when a read fails.
ServiceSettings readServiceSettings(
    const std::string &toolPath, const std::vector<std::string> &toolEnvironment, const std::string &service);

} // namespace veyra::helper
