#include "NetworkSetupOutput.h"
#include "NetworkSetupProxyBackend.h"

#include "Errors.h"

#include <gtest/gtest.h>

using namespace veyra;
using namespace veyra::NetworkSetupOutput;
using Lines = std::vector<std::vector<std::string>>;

namespace {

Lines withoutProgram(const ipc::CommandList &commands)
{
    Lines lines;
    for (const auto &line : commands)
        lines.emplace_back(line.begin() + 1, line.end());
    return lines;
}

} // namespace

TEST(NetworkSetupOutput, KeyValueLinesAndEnabledWords)
{
    const Dictionary map
        = dictionary(QStringLiteral(" Server:\thttp://a:8080/x \t\r\nPort: 1\nNoColon\n:v\nE:\nPORT: 2"));
    EXPECT_EQ(map,
        (Dictionary { { QStringLiteral("server"), QStringLiteral("http://a:8080/x") },
            { QStringLiteral("port"), QStringLiteral("2") } }));
    for (const char *yes : { "Yes", "ON", "1", "true" })
        EXPECT_TRUE(isEnabled(dictionary(QStringLiteral("Enabled: ") + QLatin1String(yes)))) << yes;
    EXPECT_TRUE(isEnabled(dictionary(QStringLiteral("Auto Proxy Discovery: On"))));
    EXPECT_FALSE(isEnabled(dictionary(QStringLiteral("Auto Proxy Discovery: On\nEnabled: No"))));
    // Blanks after the colon still count as a value: the key is there, only empty.
    EXPECT_EQ(dictionary(QStringLiteral("Enabled: \t\nE:")), (Dictionary { { QStringLiteral("enabled"), QString() } }));
    EXPECT_FALSE(isEnabled(dictionary(QStringLiteral("Enabled:  \nAuto Proxy Discovery: On"))));
}

TEST(NetworkSetupOutput, EndpointBypassAndActiveServices)
{
    EXPECT_EQ(endpoint(QStringLiteral("Enabled: No\nServer: \nPort: 0\n")), ProxyEndpointState {});
    EXPECT_EQ(endpoint(QStringLiteral("Enabled: Yes\nServer: p.lan\nPort: +3128")),
        (ProxyEndpointState { true, QStringLiteral("p.lan"), 3128 }));
    EXPECT_EQ(endpoint(QStringLiteral("Port: 80a")).port, 0);
    // Only sign and digits: no other white space around them, nothing after a NUL.
    EXPECT_EQ(endpoint(QStringLiteral("Port: \v80")).port, 0);
    EXPECT_EQ(endpoint(QString::fromUtf8("Port: 80\0\0x", 12)).port, 0);
    EXPECT_TRUE(bypassDomains(QStringLiteral("THERE AREN'T ANY bypass domains set on Wi-Fi.\n")).isEmpty());
    EXPECT_EQ(bypassDomains(QStringLiteral("*.local\n\n169.254/16\n")),
        (QStringList { QStringLiteral("*.local"), QStringLiteral("169.254/16") }));
    EXPECT_EQ(listedServices(QStringLiteral("An asterisk (*) denotes that a network service is disabled.\nWi-Fi\n"
                                            "*Bluetooth PAN\nUSB 10/100\n")),
        (QStringList { QStringLiteral("Wi-Fi"), QStringLiteral("USB 10/100") }));
    EXPECT_TRUE(hasAddress(QStringLiteral("DHCP Configuration\nIP address: 192.168.1.20\n")));
    for (const char *none : { "IP address: none", "IP address: 0.0.0.0", "IPv6 IP address: fe80::1" })
        EXPECT_FALSE(hasAddress(QLatin1String(none))) << none;
}

TEST(ProxySnapshot, RoundTripsAndRequiresEveryKey)
{
    NetworkServiceProxySnapshot wifi { QStringLiteral("Wi-Fi"), { true, QStringLiteral("p.lan"), 3128 }, {}, {},
        { QStringLiteral("*.corp") }, QStringLiteral("http://pac/p.pac"), true, false };
    const json::Json full = ProxySnapshot { 7890, { wifi } }.toJson();
    EXPECT_EQ(ProxySnapshot::fromJson(full).services.at(0), wifi);
    for (const char *key : { "service", "web", "secureWeb", "socks", "bypassDomains", "autoProxyURL",
             "autoProxyEnabled", "autoDiscoveryEnabled" }) {
        json::Json broken = full;
        broken["services"][0].erase(key);
        EXPECT_THROW(ProxySnapshot::fromJson(broken), SystemError) << key;
    }
    json::Json mistyped = full;
    mistyped["services"][0]["web"]["enabled"] = "yes";
    EXPECT_THROW(ProxySnapshot::fromJson(mistyped), SystemError);
}

TEST(SystemProxyCommands, ApplyAndRestoreLines)
{
    EXPECT_EQ(withoutProgram(NetworkSetupProxyBackend::applyCommands(QStringLiteral("Wi-Fi"), 7890)),
        (Lines { { "-setautoproxystate", "Wi-Fi", "off" }, { "-setproxyautodiscovery", "Wi-Fi", "off" },
            { "-setwebproxy", "Wi-Fi", "127.0.0.1", "7890" }, { "-setsecurewebproxy", "Wi-Fi", "127.0.0.1", "7890" },
            { "-setsocksfirewallproxy", "Wi-Fi", "127.0.0.1", "7890" },
            { "-setproxybypassdomains", "Wi-Fi", "localhost", "127.0.0.1", "::1", "*.local", "169.254/16" },
            { "-setwebproxystate", "Wi-Fi", "on" }, { "-setsecurewebproxystate", "Wi-Fi", "on" },
            { "-setsocksfirewallproxystate", "Wi-Fi", "on" } }));

    NetworkServiceProxySnapshot saved;
    saved.service = QStringLiteral("Wi-Fi");
    saved.web = { true, QStringLiteral("p.lan"), 3128 };
    saved.socks = { false, QStringLiteral("host.without.port"), 0 };
    saved.autoProxyURL = QStringLiteral("http://pac/p.pac");
    EXPECT_EQ(withoutProgram(NetworkSetupProxyBackend::restoreCommands(saved)),
        (Lines { { "-setwebproxy", "Wi-Fi", "p.lan", "3128" }, { "-setwebproxystate", "Wi-Fi", "on" },
            { "-setsecurewebproxystate", "Wi-Fi", "off" }, { "-setsocksfirewallproxystate", "Wi-Fi", "off" },
            { "-setproxybypassdomains", "Wi-Fi", "Empty" }, { "-setautoproxyurl", "Wi-Fi", "http://pac/p.pac" },
            { "-setautoproxystate", "Wi-Fi", "off" }, { "-setproxyautodiscovery", "Wi-Fi", "off" } }));
}
