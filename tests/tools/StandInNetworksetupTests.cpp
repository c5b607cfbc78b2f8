// The stand-in networksetup's own promises: it is the tool of every helper test.
#include "StandInState.h"
#include "ToolRunner.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <thread>

using namespace veyra::helper;
using namespace veyra::helper::test;

// Concurrent runs never lose a write. The helper runs its tool with umask 0077; the settings
// stay readable to every user all the same, and only recent history is kept.
TEST(StandInNetworksetupIntegration, ConcurrentRunsKeepEveryWriteAReadableStateAndRecentHistory)
{
    TempDir dir;
    StandInState state(dir.path());
    auto json = state.read();
    for (int i = 0; i < 16; ++i)
        json["services"].push_back(StandInState::serviceRecord("svc" + std::to_string(i), "10.1.0.1"));
    state.write(json);
    const mode_t saved = ::umask(077);
    std::vector<std::thread> writers;
    for (int i = 0; i < 16; ++i)
        writers.emplace_back([i, &state] {
            runTool(VEYRA_NETWORKSETUP_EXECUTABLE, { "-setwebproxy", "svc" + std::to_string(i), "h", "1000" },
                state.toolEnvironment());
        });
    for (auto &writer : writers)
        writer.join();
    EXPECT_EQ(state.history().size(), 16u);
    EXPECT_EQ(fs::status(state.path()).permissions() & fs::perms::all,
        fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);

    json = state.read();
    json["history"] = std::vector<std::vector<std::string>>(5000, { "-setwebproxystate", "Wi-Fi", "on" });
    state.write(json);
    runTool(VEYRA_NETWORKSETUP_EXECUTABLE, { "-setwebproxystate", "Wi-Fi", "off" }, state.toolEnvironment());
    ::umask(saved);
    const auto history = state.history();
    EXPECT_LT(history.size(), 5000u);
    ASSERT_FALSE(history.empty());
    EXPECT_EQ(history.back(), (std::vector<std::string> { "-setwebproxystate", "Wi-Fi", "off" }));
}
