#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <stdexcept>

namespace YAML {
class Node;
}

namespace standin {

// A configuration the kernel cannot run with; the text says why.
class ConfigError : public std::runtime_error {
public:
    explicit ConfigError(const QString &reason)
        : std::runtime_error(reason.toStdString())
    {
    }
};

struct NodeConfig {
    QString name;
    QString type; // "socks5" or "http"
    QString server;
    quint16 port = 0;
    QString username;
    QString password;
};

struct ProviderConfig {
    QString name;
    QString url;
    QString path; // absolute, already resolved against the home directory
    int interval = 0;
    QList<QPair<QString, QStringList>> headers;
    bool healthCheck = false;
    QString healthCheckUrl;
    int healthCheckInterval = 0;
};

struct GroupConfig {
    QString name;
    QString type; // "select" or "url-test"
    QStringList proxies;
    QStringList use;
    QString url;
    int interval = 300;
    int tolerance = 0;
};

struct RuleConfig {
    QString type; // DOMAIN, DOMAIN-SUFFIX, IP-CIDR, IP-CIDR6, MATCH
    QString value;
    QString target;
    bool noResolve = false;
};

struct KernelConfig {
    quint16 mixedPort = 0;
    quint16 socksPort = 0;
    bool allowLan = false;
    QString bindAddress = QStringLiteral("*");
    QString mode = QStringLiteral("rule");
    QString logLevel = QStringLiteral("info");
    bool ipv6 = false;
    QString controllerHost;
    quint16 controllerPort = 0;
    QString secret;
    bool unifiedDelay = false;
    bool tcpConcurrent = false;
    QString findProcessMode = QStringLiteral("strict");
    bool storeSelected = false;
    bool storeFakeIp = false;
    QList<NodeConfig> proxies;
    QList<ProviderConfig> providers;
    QList<GroupConfig> groups;
    QList<RuleConfig> rules;

    // Reads and checks the whole file; relative paths resolve against `home`.
    static KernelConfig load(const QString &file, const QString &home);
    // The same for a document already in memory.
    static KernelConfig parse(const QByteArray &document, const QString &home);
};

// The `proxies:` list of a configuration or of a provider's document.
QList<NodeConfig> parseNodes(const YAML::Node &list, const QString &where);

// Whether `mode` is one of the three routing modes.
bool isKnownMode(const QString &mode);

} // namespace standin
