#include "ConfigCompiler.h"

#include <QStringList>

#include <algorithm>

namespace veyra {

QString ConfigCompiler::defaultConnectivityCheckURL()
{
    return QStringLiteral("https://www.gstatic.com/generate_204");
}

QString ConfigCompiler::quoted(const QString &value)
{
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    escaped.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    escaped.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    escaped.remove(QLatin1Char('\r'));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

QString ConfigCompiler::compile(
    const ProviderSource &source, const AppSettings &settings, const QString &controllerSecret)
{
    return compile(source, settings, controllerSecret, defaultConnectivityCheckURL());
}

QString ConfigCompiler::compile(const ProviderSource &source, const AppSettings &settings,
    const QString &controllerSecret, const QString &connectivityCheckURL)
{
    settings.validate();
    const QString automatic = QString::fromUtf8(automaticGroup);
    const QString selectable = QString::fromUtf8(selectableGroup);
    const QString &id = source.providerID;
    const QStringList lines {
        QStringLiteral("mixed-port: ") + QString::number(settings.mixedPort),
        QStringLiteral("socks-port: ") + QString::number(settings.socksPort),
        QStringLiteral("allow-lan: false"),
        QStringLiteral("bind-address: 127.0.0.1"),
        QStringLiteral("mode: ") + rawValue(settings.proxyMode),
        QStringLiteral("log-level: info"),
        QStringLiteral("ipv6: false"),
        QStringLiteral("external-controller: 127.0.0.1:") + QString::number(settings.controllerPort),
        QStringLiteral("secret: ") + quoted(controllerSecret),
        QStringLiteral("unified-delay: true"),
        QStringLiteral("tcp-concurrent: true"),
        QStringLiteral("find-process-mode: strict"),
        QStringLiteral("profile:"),
        QStringLiteral("  store-selected: true"),
        QStringLiteral("  store-fake-ip: true"),
        QStringLiteral("proxy-providers:"),
        QStringLiteral("  ") + id + QLatin1Char(':'),
        QStringLiteral("    type: http"),
        QStringLiteral("    url: ") + quoted(source.url),
        QStringLiteral("    path: ./providers/") + id + QStringLiteral(".yaml"),
        QStringLiteral("    interval: ") + QString::number(std::max(source.updateInterval, minimumUpdateInterval)),
        QStringLiteral("    header:"),
        QStringLiteral("      User-Agent:"),
        QStringLiteral("        - ") + quoted(source.userAgent),
        QStringLiteral("      X-Device-ID:"),
        QStringLiteral("        - ") + quoted(source.deviceID),
        QStringLiteral("    health-check:"),
        QStringLiteral("      enable: true"),
        QStringLiteral("      url: ") + connectivityCheckURL,
        QStringLiteral("      interval: 600"),
        QStringLiteral("proxy-groups:"),
        QStringLiteral("  - name: ") + quoted(automatic),
        QStringLiteral("    type: url-test"),
        QStringLiteral("    use:"),
        QStringLiteral("    - ") + id,
        QStringLiteral("    url: ") + connectivityCheckURL,
        QStringLiteral("    interval: 300"),
        QStringLiteral("    tolerance: 80"),
        QStringLiteral("  - name: ") + quoted(selectable),
        QStringLiteral("    type: select"),
        QStringLiteral("    proxies:"),
        QStringLiteral("      - ") + quoted(automatic),
        QStringLiteral("    use:"),
        QStringLiteral("    - ") + id,
        QStringLiteral("rules:"),
        QStringLiteral("  - DOMAIN,localhost,DIRECT"),
        QStringLiteral("  - DOMAIN-SUFFIX,local,DIRECT"),
        QStringLiteral("  - DOMAIN-SUFFIX,lan,DIRECT"),
        QStringLiteral("  - DOMAIN-SUFFIX,home.arpa,DIRECT"),
        QStringLiteral("  - IP-CIDR,127.0.0.0/8,DIRECT,no-resolve"),
        QStringLiteral("  - IP-CIDR,10.0.0.0/8,DIRECT,no-resolve"),
        QStringLiteral("  - IP-CIDR,172.16.0.0/12,DIRECT,no-resolve"),
        QStringLiteral("  - IP-CIDR,192.168.0.0/16,DIRECT,no-resolve"),
        QStringLiteral("  - IP-CIDR,169.254.0.0/16,DIRECT,no-resolve"),
        QStringLiteral("  - IP-CIDR6,::1/128,DIRECT,no-resolve"),
        QStringLiteral("  - IP-CIDR6,fc00::/7,DIRECT,no-resolve"),
        QStringLiteral("  - IP-CIDR6,fe80::/10,DIRECT,no-resolve"),
        QStringLiteral("  - DOMAIN-SUFFIX,cn,DIRECT"),
        QStringLiteral("  - MATCH,") + selectable,
        QString(),
    };
    return lines.join(QLatin1Char('\n'));
}

} // namespace veyra
