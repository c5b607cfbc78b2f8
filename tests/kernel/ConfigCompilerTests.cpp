#include "ConfigCompiler.h"
#include "Errors.h"

#include <gtest/gtest.h>

namespace veyra {
namespace {

ProviderSource officialSource()
{
    return { QStringLiteral("veyra_official"), QStringLiteral("https://sub.example/s?token=1"),
        QStringLiteral("Clash.Meta/Veyra-1.0.0"), QStringLiteral("device-1"), 3600 };
}

QStringList linesOf(const ProviderSource &source, const AppSettings &settings)
{
    return ConfigCompiler::compile(source, settings, QStringLiteral("s")).split(QLatin1Char('\n'));
}

// Every user value is quoted onto one line; ports and mode come from the settings.
TEST(ConfigCompiler, WritesTheWholeConfigurationLineByLine)
{
    ProviderSource source = officialSource();
    source.url = QStringLiteral("https://a.example/\"x\"\\y");
    source.userAgent = QStringLiteral("agent\nsecond\r\nthird");
    source.deviceID = QStringLiteral("\\\"\r");
    AppSettings settings;
    settings.mixedPort = 17890;
    settings.socksPort = 17891;
    settings.controllerPort = 19090;
    settings.proxyMode = ConnectionMode::direct;
    EXPECT_EQ(ConfigCompiler::compile(source, settings, QStringLiteral("se\"cr\\et\n"),
                  QStringLiteral("https://check.example/generate_204")),
        QStringLiteral(R"(mixed-port: 17890
socks-port: 17891
allow-lan: false
bind-address: 127.0.0.1
mode: direct
log-level: info
ipv6: false
external-controller: 127.0.0.1:19090
secret: "se\"cr\\et\n"
unified-delay: true
tcp-concurrent: true
find-process-mode: strict
profile:
  store-selected: true
  store-fake-ip: true
proxy-providers:
  veyra_official:
    type: http
    url: "https://a.example/\"x\"\\y"
    path: ./providers/veyra_official.yaml
    interval: 3600
    header:
      User-Agent:
        - "agent\nsecond\nthird"
      X-Device-ID:
        - "\\\""
    health-check:
      enable: true
      url: https://check.example/generate_204
      interval: 600
proxy-groups:
  - name: "智能优选"
    type: url-test
    use:
    - veyra_official
    url: https://check.example/generate_204
    interval: 300
    tolerance: 80
  - name: "维拉网络"
    type: select
    proxies:
      - "智能优选"
    use:
    - veyra_official
rules:
  - DOMAIN,localhost,DIRECT
  - DOMAIN-SUFFIX,local,DIRECT
  - DOMAIN-SUFFIX,lan,DIRECT
  - DOMAIN-SUFFIX,home.arpa,DIRECT
  - IP-CIDR,127.0.0.0/8,DIRECT,no-resolve
  - IP-CIDR,10.0.0.0/8,DIRECT,no-resolve
  - IP-CIDR,172.16.0.0/12,DIRECT,no-resolve
  - IP-CIDR,192.168.0.0/16,DIRECT,no-resolve
  - IP-CIDR,169.254.0.0/16,DIRECT,no-resolve
  - IP-CIDR6,::1/128,DIRECT,no-resolve
  - IP-CIDR6,fc00::/7,DIRECT,no-resolve
  - IP-CIDR6,fe80::/10,DIRECT,no-resolve
  - DOMAIN-SUFFIX,cn,DIRECT
  - MATCH,维拉网络
)"));
}

// The provider's interval has a floor; ports that clash or are not the user's to pick fail.
TEST(ConfigCompiler, IntervalModeAndPorts)
{
    for (const auto &[requested, written] : { std::pair { 60, 900 }, { 900, 900 }, { 3600, 3600 }, { -5, 900 } }) {
        ProviderSource source = officialSource();
        source.updateInterval = requested;
        EXPECT_EQ(linesOf(source, {})[20], QStringLiteral("    interval: %1").arg(written)) << requested;
    }
    AppSettings settings;
    for (const auto &[mode, word] :
        { std::pair { ConnectionMode::rule, "rule" }, { ConnectionMode::global, "global" } }) {
        settings.proxyMode = mode;
        EXPECT_EQ(linesOf(officialSource(), settings)[4], QStringLiteral("mode: ") + QLatin1String(word));
    }
    settings.socksPort = settings.mixedPort;
    try {
        linesOf(officialSource(), settings);
        ADD_FAILURE() << "equal ports were accepted";
    } catch (const AppError &error) {
        EXPECT_EQ(error.description(), QStringLiteral("三个网络端口不能重复。"));
    }
    settings = AppSettings {};
    settings.controllerPort = 80;
    EXPECT_THROW(linesOf(officialSource(), settings), AppError);
}

} // namespace
} // namespace veyra
