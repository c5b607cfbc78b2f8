#pragma once

#include "StandInState.h"
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

bool runningAsRoot();
void copyExecutable(const fs::path &from, const fs::path &to);

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
