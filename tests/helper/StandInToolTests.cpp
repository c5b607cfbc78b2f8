#include "HelperTestSupport.h"

#include <thread>

using namespace veyra::helper;
using namespace veyra::helper::test;

namespace {

ToolOutcome networksetup(const std::vector<std::string> &arguments)
{
    return runTool(VEYRA_NETWORKSETUP_EXECUTABLE, arguments);
}

} // namespace

TEST(StandInNetworksetup, ListsServicesInTheMacOSShape)
{
    TempDir dir;
    StandInState state(dir.path());
    auto json = state.read();
    json["services"].push_back(StandInState::serviceRecord("Bluetooth PAN", "", false));
    state.write(json);
    ToolOutcome list = networksetup({ "-listallnetworkservices" });
    EXPECT_EQ(list.exitStatus, 0);
    EXPECT_EQ(list.standardOutput,
        "An asterisk (*) denotes that a network service is disabled.\nWi-Fi\nEthernet\n*Bluetooth PAN\n");
}

TEST(StandInNetworksetup, ReadsBackWhatWasSet)
{
    TempDir dir;
    StandInState state(dir.path());
    EXPECT_EQ(networksetup({ "-getproxybypassdomains", "Wi-Fi" }).standardOutput,
        "There aren't any bypass domains set on Wi-Fi.\n");
    ASSERT_EQ(networksetup({ "-setsecurewebproxy", "Wi-Fi", "proxy.lan", "3128" }).exitStatus, 0);
    EXPECT_EQ(networksetup({ "-getsecurewebproxy", "Wi-Fi" }).standardOutput,
        "Enabled: Yes\nServer: proxy.lan\nPort: 3128\nAuthenticated Proxy Enabled: 0\n");
    ASSERT_EQ(networksetup({ "-setproxybypassdomains", "Wi-Fi", "a.example", "*.local" }).exitStatus, 0);
    EXPECT_EQ(networksetup({ "-getproxybypassdomains", "Wi-Fi" }).standardOutput, "a.example\n*.local\n");
    ASSERT_EQ(networksetup({ "-setproxybypassdomains", "Wi-Fi", "Empty" }).exitStatus, 0);
    EXPECT_NE(
        networksetup({ "-getproxybypassdomains", "Wi-Fi" }).standardOutput.find("There aren't any"), std::string::npos);
    ASSERT_EQ(networksetup({ "-setproxyautodiscovery", "Wi-Fi", "On" }).exitStatus, 0);
    EXPECT_EQ(networksetup({ "-getproxyautodiscovery", "Wi-Fi" }).standardOutput, "Auto Proxy Discovery: On\n");
    ASSERT_EQ(networksetup({ "-setautoproxyurl", "Wi-Fi", "http://pac.lan/p.pac" }).exitStatus, 0);
    EXPECT_EQ(
        networksetup({ "-getautoproxyurl", "Wi-Fi" }).standardOutput, "URL: http://pac.lan/p.pac\nEnabled: Yes\n");
    EXPECT_NE(
        networksetup({ "-getinfo", "Wi-Fi" }).standardOutput.find("IP address: 192.168.1.20\n"), std::string::npos);
}

TEST(StandInNetworksetup, UnknownServiceAndBadArgumentsFailOnStandardError)
{
    TempDir dir;
    StandInState state(dir.path());
    ToolOutcome unknown = networksetup({ "-getwebproxy", "Nowhere" });
    EXPECT_NE(unknown.exitStatus, 0);
    EXPECT_TRUE(unknown.standardOutput.empty());
    EXPECT_NE(unknown.standardError.find("Nowhere"), std::string::npos);
    EXPECT_NE(networksetup({ "-setwebproxystate", "Wi-Fi", "maybe" }).exitStatus, 0);
    EXPECT_NE(networksetup({ "-setwebproxy", "Wi-Fi", "host", "port" }).exitStatus, 0);
    EXPECT_NE(networksetup({ "-frobnicate" }).exitStatus, 0);
    EXPECT_TRUE(state.history().empty());
}

TEST(StandInNetworksetup, ConcurrentRunsNeverLoseAWrite)
{
    TempDir dir;
    StandInState state(dir.path());
    auto json = state.read();
    for (int i = 0; i < 16; ++i)
        json["services"].push_back(StandInState::serviceRecord("svc" + std::to_string(i), "10.1.0.1"));
    state.write(json);
    std::vector<std::thread> writers;
    for (int i = 0; i < 16; ++i)
        writers.emplace_back([i] { networksetup({ "-setwebproxy", "svc" + std::to_string(i), "h", "1000" }); });
    for (auto &writer : writers)
        writer.join();
    EXPECT_EQ(state.history().size(), 16u);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(state.service("svc" + std::to_string(i))["web"]["port"], 1000) << i;
}

TEST(StandInNetworksetup, ChosenFailureUsesItsStatusAndTexts)
{
    TempDir dir;
    StandInState state(dir.path());
    state.failOn("-setwebproxystate", 7, "no\n", "out\n", "Ethernet");
    EXPECT_EQ(networksetup({ "-setwebproxystate", "Wi-Fi", "on" }).exitStatus, 0);
    ToolOutcome failed = networksetup({ "-setwebproxystate", "Ethernet", "on" });
    EXPECT_EQ(failed.exitStatus, 7);
    EXPECT_EQ(failed.standardError, "no\n");
    EXPECT_EQ(failed.standardOutput, "out\n");
}
