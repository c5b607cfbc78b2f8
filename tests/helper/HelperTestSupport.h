#pragma once

#include "ToolRunner.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace veyra::helper::test {

namespace fs = std::filesystem;

inline const std::string tool = "/usr/sbin/networksetup";

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

bool runningAsRoot();
void copyExecutable(const fs::path &from, const fs::path &to);
void writeFile(const fs::path &path, const std::string &bytes);

// The stand-in tool's state file for one test. The helper runs its tool with a fixed minimal
// environment, so the file's location reaches the stand-in through toolEnvironment() (for the
// helper's code in process) or a launcher script (for the installed executable).
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
    // Writes an executable script at `launcher` that runs the stand-in on this state file.
    void writeLauncher(const fs::path &launcher) const;

private:
    fs::path m_path;
};

// A bundle in a temporary directory, owned by root: the test client as its main executable
// and a copy of the helper beside it.
struct TestBundle {
    explicit TestBundle(const fs::path &root);
    fs::path bundle;
    fs::path macos;
    fs::path mainExecutable;
    fs::path helper;
};

inline constexpr uid_t nobody = 65534;

// Writes `body` as an executable /bin/sh script.
void writeScript(const fs::path &path, const std::string &body);

// Runs a program that needs the test's own capabilities (setpriv, a debugger).
ToolOutcome runPrivileged(const std::string &program, const std::vector<std::string> &arguments,
    const std::vector<std::string> &environment = minimalToolEnvironment(),
    std::chrono::milliseconds timeLimit = std::chrono::seconds(10));

// Runs the test client (or any program) with setpriv as nobody when `unprivileged`.
ToolOutcome runClient(const fs::path &client, const fs::path &socket, const fs::path &requestFile, bool unprivileged);
// Runs the test client with setpriv as `uid` (also as group and without supplementary groups).
ToolOutcome runClientAs(uid_t uid, const fs::path &client, const fs::path &socket, const fs::path &requestFile);

std::string requestJson(const std::vector<std::vector<std::string>> &commands);

} // namespace veyra::helper::test
