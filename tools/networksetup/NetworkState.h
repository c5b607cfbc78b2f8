#pragma once

#include <nlohmann/json.hpp>

#include <string>

// The state file of the stand-in: its network services with their proxy settings, failure
// rules for tests, and a history of the latest changes made. Held under an exclusive flock for the
// whole run so concurrent invocations never lose a write.
class NetworkState {
public:
    static constexpr const char *pathVariable = "VEYRA_NETWORKSETUP_STATE";
    static constexpr const char *defaultPath = "/var/lib/veyra-networksetup/state.json";

    // Locks and loads the file, creating a default state when it does not exist.
    explicit NetworkState(std::string path);
    ~NetworkState();
    NetworkState(const NetworkState &) = delete;
    NetworkState &operator=(const NetworkState &) = delete;

    nlohmann::json &data() { return m_data; }
    // Writes through a temporary file and a rename, still under the lock.
    void save();

    static std::string pathFromEnvironment();
    static nlohmann::json defaultState();

private:
    std::string m_path;
    int m_lockFd = -1;
    nlohmann::json m_data;
};
