#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>
#include <vector>

namespace veyra::helper::test {

namespace fs = std::filesystem;

// A world-readable temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const fs::path &path() const { return m_path; }

private:
    fs::path m_path;
};

// Writes the bytes as a file readable by everybody.
void writeFile(const fs::path &path, const std::string &bytes);

// The stand-in tool's state file for one test. The helper runs its tool with a fixed minimal
// environment, so the file's location reaches the stand-in through toolEnvironment().
class StandInState {
public:
    // Starts with two active services, "Wi-Fi" and "Ethernet", all proxies off.
    explicit StandInState(const fs::path &directory);
    static nlohmann::json serviceRecord(const std::string &name, const std::string &address, bool enabled = true);
    nlohmann::json read() const;
    void write(const nlohmann::json &state) const;
    // Adds a rule that makes the stand-in fail on `verb` (for `service`, if not empty).
    void failOn(const std::string &verb, int status, const std::string &standardError = {},
        const std::string &standardOutput = {}, const std::string &service = {}) const;
    // The changing invocations so far, each as its arguments after the program name.
    std::vector<std::vector<std::string>> history() const;
    nlohmann::json service(const std::string &name) const;
    const fs::path &path() const { return m_path; }
    // Where a helper serving this state keeps its record of the settings before it changed them.
    fs::path recordFile() const { return m_path.parent_path() / "helper-record" / "settings.json"; }
    // The helper's minimal environment plus this state file's location.
    std::vector<std::string> toolEnvironment() const;

private:
    fs::path m_path;
};

// Writes `body` as an executable /bin/sh script.
void writeScript(const fs::path &path, const std::string &body);

} // namespace veyra::helper::test
