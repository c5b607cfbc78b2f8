#include "NetworkSetupOutput.h"

#include <gtest/gtest.h>

using namespace veyra;
using namespace veyra::NetworkSetupOutput;

TEST(NetworkSetupOutput, DictionarySplitsAtTheFirstColonAndKeepsTheLastKey)
{
    const Dictionary map = dictionary(QStringLiteral("  Server:\thttp://a:8080/x \t\r\nPort: 1\nNoColon\n:value\n"
                                                     "Empty:\nPORT: 2\n"));
    EXPECT_EQ(map.value(QStringLiteral("server")), QStringLiteral("http://a:8080/x"));
    EXPECT_EQ(map.value(QStringLiteral("port")), QStringLiteral("2"));
    EXPECT_FALSE(map.contains(QStringLiteral("empty")));
    EXPECT_FALSE(map.contains(QString()));
    EXPECT_EQ(map.size(), 2);
}

TEST(NetworkSetupOutput, EnabledWordsAndTheDiscoveryFallback)
{
    for (const char *yes : { "Yes", "ON", "1", "true" })
        EXPECT_TRUE(isEnabled(dictionary(QStringLiteral("Enabled: ") + QLatin1String(yes)))) << yes;
    EXPECT_FALSE(isEnabled(dictionary(QStringLiteral("Enabled: No"))));
    EXPECT_FALSE(isEnabled(dictionary(QStringLiteral("Enabled: enabled"))));
    EXPECT_TRUE(isEnabled(dictionary(QStringLiteral("Auto Proxy Discovery: On"))));
    // "enabled" wins over the discovery line when both exist.
    EXPECT_FALSE(isEnabled(dictionary(QStringLiteral("Auto Proxy Discovery: On\nEnabled: No"))));
    EXPECT_FALSE(isEnabled({}));
}

TEST(NetworkSetupOutput, EndpointWithNothingSetReadsAsOffEmptyAndZero)
{
    const ProxyEndpointState none = endpoint(QStringLiteral("Enabled: No\nServer: \nPort: 0\n"));
    EXPECT_FALSE(none.enabled);
    EXPECT_TRUE(none.server.isEmpty());
    EXPECT_EQ(none.port, 0);

    const ProxyEndpointState set = endpoint(QStringLiteral("Enabled: Yes\nServer: proxy.lan\nPort: 3128\n"));
    EXPECT_EQ(set, (ProxyEndpointState { true, QStringLiteral("proxy.lan"), 3128 }));
    EXPECT_EQ(endpoint(QStringLiteral("Enabled: Yes\nPort: 80a")).port, 0);
    EXPECT_EQ(endpoint(QStringLiteral("Port: +81")).port, 81);
}

TEST(NetworkSetupOutput, BypassListDropsTheNoneSetMessages)
{
    EXPECT_TRUE(bypassDomains(QStringLiteral("THERE AREN'T ANY bypass domains set on Wi-Fi.\n")).isEmpty());
    EXPECT_TRUE(bypassDomains(QStringLiteral("No bypass domains\n")).isEmpty());
    EXPECT_EQ(bypassDomains(QStringLiteral("*.local\n\n 169.254/16\n")),
        (QStringList { QStringLiteral("*.local"), QStringLiteral(" 169.254/16") }));
}

TEST(NetworkSetupOutput, AutoDiscoveryAndServiceListing)
{
    EXPECT_TRUE(autoDiscoveryEnabled(QStringLiteral("Auto Proxy Discovery: On")));
    EXPECT_FALSE(autoDiscoveryEnabled(QStringLiteral("Auto Proxy Discovery: Off")));
    EXPECT_EQ(listedServices(QStringLiteral("An asterisk (*) denotes that a network service is disabled.\n"
                                            "Wi-Fi\n*Bluetooth PAN\n\nUSB 10/100\n")),
        (QStringList { QStringLiteral("Wi-Fi"), QStringLiteral("USB 10/100") }));
}

TEST(NetworkSetupOutput, OnlyARealIpv4AddressCountsAsActive)
{
    EXPECT_TRUE(hasAddress(QStringLiteral("DHCP Configuration\nIP address: 192.168.1.20\n")));
    EXPECT_FALSE(hasAddress(QStringLiteral("IP address: none\n")));
    EXPECT_FALSE(hasAddress(QStringLiteral("IP address: 0.0.0.0\n")));
    EXPECT_FALSE(hasAddress(QStringLiteral("IPv6 IP address: fe80::1\n")));
    EXPECT_FALSE(hasAddress(QString()));
}
