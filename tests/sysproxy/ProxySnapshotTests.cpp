#include "ProxySnapshot.h"
#include "SystemProxyManager.h"

#include "Errors.h"

#include <gtest/gtest.h>

using namespace veyra;

namespace {

NetworkServiceProxySnapshot sample()
{
    NetworkServiceProxySnapshot service;
    service.service = QStringLiteral("Wi-Fi");
    service.web = { true, QStringLiteral("proxy.lan"), 3128 };
    service.secureWeb = { false, QString(), 0 };
    service.socks = { false, QStringLiteral("socks.lan"), 1080 };
    service.bypassDomains = { QStringLiteral("*.corp"), QStringLiteral("10.0.0.0/8") };
    service.autoProxyURL = QStringLiteral("http://pac.lan/p.pac");
    service.autoProxyEnabled = true;
    service.autoDiscoveryEnabled = false;
    return service;
}

std::vector<std::vector<std::string>> withoutProgram(const veyra::ipc::CommandList &commands)
{
    std::vector<std::vector<std::string>> lines;
    for (const auto &line : commands) {
        EXPECT_EQ(line.front(), "/usr/sbin/networksetup");
        lines.emplace_back(line.begin() + 1, line.end());
    }
    return lines;
}

} // namespace

TEST(ProxySnapshot, RoundTripsEveryField)
{
    ProxySnapshot snapshot { 7890, { sample() } };
    const json::Json encoded = snapshot.toJson();
    EXPECT_EQ(encoded["services"][0]["secureWeb"]["port"], 0);
    ProxySnapshot decoded = ProxySnapshot::fromJson(encoded);
    EXPECT_EQ(decoded.appliedPort, 7890);
    ASSERT_EQ(decoded.services.size(), 1u);
    EXPECT_EQ(decoded.services[0], sample());
}

TEST(ProxySnapshot, EveryKeyIsRequired)
{
    const json::Json full = ProxySnapshot { 7890, { sample() } }.toJson();
    for (const char *key : { "service", "web", "secureWeb", "socks", "bypassDomains", "autoProxyURL",
             "autoProxyEnabled", "autoDiscoveryEnabled" }) {
        json::Json broken = full;
        broken["services"][0].erase(key);
        EXPECT_THROW(ProxySnapshot::fromJson(broken), SystemError) << key;
    }
    json::Json noPort = full;
    noPort.erase("appliedPort");
    EXPECT_THROW(ProxySnapshot::fromJson(noPort), SystemError);
    json::Json badEndpoint = full;
    badEndpoint["services"][0]["web"]["enabled"] = "yes";
    EXPECT_THROW(ProxySnapshot::fromJson(badEndpoint), SystemError);
    json::Json badDomain = full;
    badDomain["services"][0]["bypassDomains"].push_back(3);
    EXPECT_THROW(ProxySnapshot::fromJson(badDomain), SystemError);
}

TEST(SystemProxyCommands, ApplyIsNineLinesInFixedOrder)
{
    const auto lines = withoutProgram(SystemProxyManager::applyCommands(QStringLiteral("Wi-Fi"), 7890));
    const std::vector<std::vector<std::string>> expected = {
        { "-setautoproxystate", "Wi-Fi", "off" },
        { "-setproxyautodiscovery", "Wi-Fi", "off" },
        { "-setwebproxy", "Wi-Fi", "127.0.0.1", "7890" },
        { "-setsecurewebproxy", "Wi-Fi", "127.0.0.1", "7890" },
        { "-setsocksfirewallproxy", "Wi-Fi", "127.0.0.1", "7890" },
        { "-setproxybypassdomains", "Wi-Fi", "localhost", "127.0.0.1", "::1", "*.local", "169.254/16" },
        { "-setwebproxystate", "Wi-Fi", "on" },
        { "-setsecurewebproxystate", "Wi-Fi", "on" },
        { "-setsocksfirewallproxystate", "Wi-Fi", "on" },
    };
    EXPECT_EQ(lines, expected);
}

TEST(SystemProxyCommands, RestoreSetsAddressesOnlyWhereServerAndPortWereSaved)
{
    const auto lines = withoutProgram(SystemProxyManager::restoreCommands(sample()));
    const std::vector<std::vector<std::string>> expected = {
        { "-setwebproxy", "Wi-Fi", "proxy.lan", "3128" },
        { "-setwebproxystate", "Wi-Fi", "on" },
        { "-setsecurewebproxystate", "Wi-Fi", "off" },
        { "-setsocksfirewallproxy", "Wi-Fi", "socks.lan", "1080" },
        { "-setsocksfirewallproxystate", "Wi-Fi", "off" },
        { "-setproxybypassdomains", "Wi-Fi", "*.corp", "10.0.0.0/8" },
        { "-setautoproxyurl", "Wi-Fi", "http://pac.lan/p.pac" },
        { "-setautoproxystate", "Wi-Fi", "on" },
        { "-setproxyautodiscovery", "Wi-Fi", "off" },
    };
    EXPECT_EQ(lines, expected);
}

TEST(SystemProxyCommands, RestoreOfAnUntouchedServiceSendsStatesAndEmptyBypass)
{
    NetworkServiceProxySnapshot plain;
    plain.service = QStringLiteral("Ethernet");
    plain.web = { false, QStringLiteral("host.only"), 0 }; // a server without a port is not restored
    const auto lines = withoutProgram(SystemProxyManager::restoreCommands(plain));
    const std::vector<std::vector<std::string>> expected = {
        { "-setwebproxystate", "Ethernet", "off" },
        { "-setsecurewebproxystate", "Ethernet", "off" },
        { "-setsocksfirewallproxystate", "Ethernet", "off" },
        { "-setproxybypassdomains", "Ethernet", "Empty" },
        { "-setautoproxystate", "Ethernet", "off" },
        { "-setproxyautodiscovery", "Ethernet", "off" },
    };
    EXPECT_EQ(lines, expected);
}
