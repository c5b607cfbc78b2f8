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
inline constexpr uid_t nobody = 65534;

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

// Runs a program that needs the test's own capabilities (setpriv, unshare).
ToolOutcome runPrivileged(const std::string &program, const std::vector<std::string> &arguments,
    const std::vector<std::string> &environment = minimalToolEnvironment());

// Runs the test client with the socket and the request file: as `uid` (also as group and without
// supplementary groups) through setpriv, or as the test itself when `uid` is root.
ToolOutcome runClient(const fs::path &client, const fs::path &socket, const fs::path &requestFile, uid_t uid = nobody,
    const std::vector<std::string> &environment = minimalToolEnvironment());

std::string requestJson(const std::vector<std::vector<std::string>> &commands);

} // namespace veyra::helper::test
