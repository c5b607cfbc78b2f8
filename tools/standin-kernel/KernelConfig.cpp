#include "KernelConfig.h"

#include "Endpoint.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QSet>
#include <QUrl>

#include <yaml-cpp/yaml.h>

namespace standin {

namespace {

QString text(const YAML::Node &node, const QString &key)
{
    if (!node.IsScalar())
        throw ConfigError(QStringLiteral("%1 must be a string").arg(key));
    return QString::fromStdString(node.as<std::string>());
}

bool boolean(const YAML::Node &node, const QString &key)
{
    try {
        return node.as<bool>();
    } catch (const YAML::Exception &) {
        throw ConfigError(QStringLiteral("%1 must be true or false").arg(key));
    }
}

long long integer(const YAML::Node &node, const QString &key, long long low, long long high)
{
    long long value = 0;
    try {
        value = node.as<long long>();
    } catch (const YAML::Exception &) {
        throw ConfigError(QStringLiteral("%1 must be an integer").arg(key));
    }
    if (value < low || value > high)
        throw ConfigError(QStringLiteral("%1 must lie between %2 and %3").arg(key).arg(low).arg(high));
    return value;
}

QStringList stringList(const YAML::Node &node, const QString &key)
{
    if (!node.IsSequence())
        throw ConfigError(QStringLiteral("%1 must be a list").arg(key));
    QStringList values;
    for (const YAML::Node &item : node)
        values << text(item, key);
    return values;
}

ProviderConfig parseProvider(const QString &name, const YAML::Node &node, const QString &home)
{
    if (!node.IsMap())
        throw ConfigError(QStringLiteral("proxy provider %1 must be a mapping").arg(name));
    ProviderConfig provider;
    provider.name = name;
    const QString type = node["type"] ? text(node["type"], QStringLiteral("type")) : QString();
    if (type != QLatin1String("http"))
        throw ConfigError(QStringLiteral("proxy provider %1: unsupported type \"%2\"").arg(name, type));
    if (!node["url"])
        throw ConfigError(QStringLiteral("proxy provider %1: missing url").arg(name));
    provider.url = text(node["url"], QStringLiteral("url"));
    const QUrl url(provider.url, QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))
        || url.host().isEmpty())
        throw ConfigError(QStringLiteral("proxy provider %1: url is not an http or https address").arg(name));
    if (!node["path"])
        throw ConfigError(QStringLiteral("proxy provider %1: missing path").arg(name));
    const QString path = text(node["path"], QStringLiteral("path"));
    provider.path = QDir::cleanPath(QDir(home).absoluteFilePath(path));
    if (node["interval"])
        provider.interval = static_cast<int>(integer(node["interval"], QStringLiteral("interval"), 0, 31'536'000));
    if (const YAML::Node header = node["header"]) {
        if (!header.IsMap())
            throw ConfigError(QStringLiteral("proxy provider %1: header must be a mapping").arg(name));
        for (const auto &entry : header)
            provider.headers.append({ QString::fromStdString(entry.first.as<std::string>()),
                stringList(entry.second, QStringLiteral("header value")) });
    }
    if (const YAML::Node health = node["health-check"]) {
        if (!health.IsMap())
            throw ConfigError(QStringLiteral("proxy provider %1: health-check must be a mapping").arg(name));
        if (health["enable"])
            provider.healthCheck = boolean(health["enable"], QStringLiteral("health-check.enable"));
        if (health["url"])
            provider.healthCheckUrl = text(health["url"], QStringLiteral("health-check.url"));
        if (health["interval"])
            provider.healthCheckInterval
                = static_cast<int>(integer(health["interval"], QStringLiteral("health-check.interval"), 0, 31'536'000));
    }
    return provider;
}

GroupConfig parseGroup(const YAML::Node &node)
{
    if (!node.IsMap() || !node["name"])
        throw ConfigError(QStringLiteral("every proxy group needs a name"));
    GroupConfig group;
    group.name = text(node["name"], QStringLiteral("name"));
    group.type = node["type"] ? text(node["type"], QStringLiteral("type")) : QString();
    if (group.type != QLatin1String("select") && group.type != QLatin1String("url-test"))
        throw ConfigError(QStringLiteral("proxy group %1: unsupported type \"%2\"").arg(group.name, group.type));
    if (node["proxies"])
        group.proxies = stringList(node["proxies"], QStringLiteral("proxies"));
    if (node["use"])
        group.use = stringList(node["use"], QStringLiteral("use"));
    if (group.proxies.isEmpty() && group.use.isEmpty())
        throw ConfigError(QStringLiteral("proxy group %1 has no members").arg(group.name));
    if (node["url"])
        group.url = text(node["url"], QStringLiteral("url"));
    if (node["interval"])
        group.interval = static_cast<int>(integer(node["interval"], QStringLiteral("interval"), 0, 31'536'000));
    if (node["tolerance"])
        group.tolerance = static_cast<int>(integer(node["tolerance"], QStringLiteral("tolerance"), 0, 60'000));
    return group;
}

RuleConfig parseRule(const QString &line)
{
    const QStringList parts = line.split(QLatin1Char(','));
    RuleConfig rule;
    rule.type = parts.value(0).trimmed().toUpper();
    if (rule.type == QLatin1String("MATCH")) {
        if (parts.size() != 2)
            throw ConfigError(QStringLiteral("rule \"%1\": MATCH takes one target").arg(line));
        rule.target = parts[1].trimmed();
        return rule;
    }
    static const QStringList known { QStringLiteral("DOMAIN"), QStringLiteral("DOMAIN-SUFFIX"),
        QStringLiteral("IP-CIDR"), QStringLiteral("IP-CIDR6") };
    if (!known.contains(rule.type))
        throw ConfigError(QStringLiteral("rule \"%1\": unsupported rule type").arg(line));
    if (parts.size() < 3 || parts.size() > 4)
        throw ConfigError(QStringLiteral("rule \"%1\": expected TYPE,value,target").arg(line));
    rule.value = parts[1].trimmed();
    rule.target = parts[2].trimmed();
    if (parts.size() == 4) {
        if (parts[3].trimmed() != QLatin1String("no-resolve"))
            throw ConfigError(QStringLiteral("rule \"%1\": unknown option").arg(line));
        rule.noResolve = true;
    }
    if (rule.type.startsWith(QLatin1String("IP-CIDR"))) {
        const auto subnet = QHostAddress::parseSubnet(rule.value);
        const auto wanted
            = rule.type == QLatin1String("IP-CIDR") ? QAbstractSocket::IPv4Protocol : QAbstractSocket::IPv6Protocol;
        if (subnet.first.isNull() || subnet.first.protocol() != wanted)
            throw ConfigError(QStringLiteral("rule \"%1\": invalid network").arg(line));
    }
    if (rule.value.isEmpty())
        throw ConfigError(QStringLiteral("rule \"%1\": empty value").arg(line));
    return rule;
}

} // namespace

bool isKnownMode(const QString &mode)
{
    return mode == QLatin1String("rule") || mode == QLatin1String("global") || mode == QLatin1String("direct");
}

QList<NodeConfig> parseNodes(const YAML::Node &list, const QString &where)
{
    if (!list.IsSequence())
        throw ConfigError(QStringLiteral("%1: proxies must be a list").arg(where));
    QList<NodeConfig> nodes;
    QSet<QString> names;
    for (const YAML::Node &item : list) {
        if (!item.IsMap() || !item["name"] || !item["type"] || !item["server"] || !item["port"])
            throw ConfigError(QStringLiteral("%1: every proxy needs name, type, server and port").arg(where));
        NodeConfig node;
        node.name = text(item["name"], QStringLiteral("name"));
        node.type = text(item["type"], QStringLiteral("type"));
        if (node.type != QLatin1String("socks5") && node.type != QLatin1String("http"))
            throw ConfigError(
                QStringLiteral("%1: proxy %2 has unsupported type \"%3\"").arg(where, node.name, node.type));
        node.server = text(item["server"], QStringLiteral("server"));
        node.port = static_cast<quint16>(integer(item["port"], QStringLiteral("port"), 1, 65535));
        if (item["username"])
            node.username = text(item["username"], QStringLiteral("username"));
        if (item["password"])
            node.password = text(item["password"], QStringLiteral("password"));
        if (names.contains(node.name))
            throw ConfigError(QStringLiteral("%1: duplicate proxy name %2").arg(where, node.name));
        names.insert(node.name);
        nodes << node;
    }
    return nodes;
}

KernelConfig KernelConfig::load(const QString &file, const QString &home)
{
    QFile input(file);
    if (!input.open(QIODevice::ReadOnly))
        throw ConfigError(QStringLiteral("cannot read %1: %2").arg(file, input.errorString()));
    return parse(input.readAll(), home);
}

KernelConfig KernelConfig::parse(const QByteArray &bytes, const QString &home)
{
    YAML::Node root;
    try {
        root = YAML::Load(bytes.toStdString());
    } catch (const YAML::Exception &error) {
        throw ConfigError(QStringLiteral("yaml: %1").arg(QString::fromStdString(error.what())));
    }
    if (!root.IsMap())
        throw ConfigError(QStringLiteral("the configuration must be a mapping"));

    KernelConfig config;
    try {
        if (root["mixed-port"])
            config.mixedPort
                = static_cast<quint16>(integer(root["mixed-port"], QStringLiteral("mixed-port"), 0, 65535));
        if (root["socks-port"])
            config.socksPort
                = static_cast<quint16>(integer(root["socks-port"], QStringLiteral("socks-port"), 0, 65535));
        if (root["allow-lan"])
            config.allowLan = boolean(root["allow-lan"], QStringLiteral("allow-lan"));
        if (root["bind-address"]) {
            config.bindAddress = text(root["bind-address"], QStringLiteral("bind-address"));
            if (config.bindAddress != QLatin1String("*") && QHostAddress(config.bindAddress).isNull())
                throw ConfigError(QStringLiteral("bind-address %1 is not an IP address").arg(config.bindAddress));
        }
        if (root["mode"]) {
            config.mode = text(root["mode"], QStringLiteral("mode")).toLower();
            if (!isKnownMode(config.mode))
                throw ConfigError(QStringLiteral("unknown mode \"%1\"").arg(config.mode));
        }
        if (root["log-level"]) {
            config.logLevel = text(root["log-level"], QStringLiteral("log-level"));
            static const QStringList levels { QStringLiteral("debug"), QStringLiteral("info"),
                QStringLiteral("warning"), QStringLiteral("error"), QStringLiteral("silent") };
            if (!levels.contains(config.logLevel))
                throw ConfigError(QStringLiteral("unknown log-level \"%1\"").arg(config.logLevel));
        }
        if (root["ipv6"])
            config.ipv6 = boolean(root["ipv6"], QStringLiteral("ipv6"));
        if (root["external-controller"]) {
            const QString controller = text(root["external-controller"], QStringLiteral("external-controller"));
            const auto endpoint = veyra::proxy::parseAuthority(controller);
            if (!endpoint || QHostAddress(endpoint->host).isNull())
                throw ConfigError(QStringLiteral("external-controller %1 is not address:port").arg(controller));
            config.controllerHost = endpoint->host;
            config.controllerPort = endpoint->port;
        }
        if (root["secret"])
            config.secret = text(root["secret"], QStringLiteral("secret"));
        if (root["unified-delay"])
            config.unifiedDelay = boolean(root["unified-delay"], QStringLiteral("unified-delay"));
        if (root["tcp-concurrent"])
            config.tcpConcurrent = boolean(root["tcp-concurrent"], QStringLiteral("tcp-concurrent"));
        if (root["find-process-mode"]) {
            config.findProcessMode = text(root["find-process-mode"], QStringLiteral("find-process-mode"));
            static const QStringList modes { QStringLiteral("always"), QStringLiteral("strict"),
                QStringLiteral("off") };
            if (!modes.contains(config.findProcessMode))
                throw ConfigError(QStringLiteral("unknown find-process-mode \"%1\"").arg(config.findProcessMode));
        }
        if (const YAML::Node profile = root["profile"]) {
            if (!profile.IsMap())
                throw ConfigError(QStringLiteral("profile must be a mapping"));
            if (profile["store-selected"])
                config.storeSelected = boolean(profile["store-selected"], QStringLiteral("profile.store-selected"));
            if (profile["store-fake-ip"])
                config.storeFakeIp = boolean(profile["store-fake-ip"], QStringLiteral("profile.store-fake-ip"));
        }
        if (root["proxies"])
            config.proxies = parseNodes(root["proxies"], QStringLiteral("configuration"));
        if (const YAML::Node providers = root["proxy-providers"]) {
            if (!providers.IsMap())
                throw ConfigError(QStringLiteral("proxy-providers must be a mapping"));
            for (const auto &entry : providers)
                config.providers << parseProvider(
                    QString::fromStdString(entry.first.as<std::string>()), entry.second, home);
        }
        if (const YAML::Node groups = root["proxy-groups"]) {
            if (!groups.IsSequence())
                throw ConfigError(QStringLiteral("proxy-groups must be a list"));
            for (const YAML::Node &group : groups)
                config.groups << parseGroup(group);
        }
        if (root["rules"]) {
            for (const QString &line : stringList(root["rules"], QStringLiteral("rules")))
                config.rules << parseRule(line);
        }
    } catch (const YAML::Exception &error) {
        throw ConfigError(QStringLiteral("yaml: %1").arg(QString::fromStdString(error.what())));
    }

    // Two listeners on one port would make the second fail at run time; refuse it up front.
    QList<QPair<QString, quint16>> ports { { QStringLiteral("mixed-port"), config.mixedPort },
        { QStringLiteral("socks-port"), config.socksPort },
        { QStringLiteral("external-controller"), config.controllerPort } };
    for (qsizetype i = 0; i < ports.size(); ++i)
        for (qsizetype j = i + 1; j < ports.size(); ++j)
            if (ports[i].second != 0 && ports[i].second == ports[j].second)
                throw ConfigError(QStringLiteral("port %1 is used by both %2 and %3")
                                      .arg(ports[i].second)
                                      .arg(ports[i].first, ports[j].first));

    QSet<QString> names { QStringLiteral("DIRECT"), QStringLiteral("REJECT") };
    for (const NodeConfig &node : config.proxies)
        names.insert(node.name);
    QSet<QString> providerNames;
    for (const ProviderConfig &provider : config.providers)
        providerNames.insert(provider.name);
    for (const GroupConfig &group : config.groups) {
        if (names.contains(group.name))
            throw ConfigError(QStringLiteral("proxy group %1: the name is already taken").arg(group.name));
        names.insert(group.name);
    }
    for (const GroupConfig &group : config.groups) {
        for (const QString &member : group.proxies)
            if (!names.contains(member))
                throw ConfigError(QStringLiteral("proxy group %1: member %2 not found").arg(group.name, member));
        for (const QString &provider : group.use)
            if (!providerNames.contains(provider))
                throw ConfigError(QStringLiteral("proxy group %1: provider %2 not found").arg(group.name, provider));
    }
    for (const RuleConfig &rule : config.rules)
        if (!names.contains(rule.target))
            throw ConfigError(
                QStringLiteral("rule %1,%2: target %3 not found").arg(rule.type, rule.value, rule.target));
    return config;
}

} // namespace standin
