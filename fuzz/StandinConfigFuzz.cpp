#include "FuzzModels.h"
#include "FuzzTarget.h"

#include "KernelConfig.h"
#include "ProviderStore.h"

#include <QDir>
#include <QHostAddress>
#include <QSet>
#include <QUrl>

#include <tuple>

#include <yaml-cpp/yaml.h>

using namespace standin;

namespace {

void checkNodes(const QList<NodeConfig> &nodes, QSet<QString> &names)
{
    for (const NodeConfig &node : nodes) {
        FUZZ_EXPECT(!names.contains(node.name), "proxy name " + node.name.toStdString() + " twice");
        names.insert(node.name);
        FUZZ_EXPECT(node.type == u"socks5" || node.type == u"http", "proxy type");
        FUZZ_EXPECT(node.port >= 1, "proxy port 0");
    }
}

// What a configuration the kernel accepted promises to the code that runs it.
void checkAccepted(const KernelConfig &config)
{
    const auto oneOf = [](const QString &value, QStringList allowed) { return allowed.contains(value); };
    FUZZ_EXPECT(isKnownMode(config.mode), "mode " + config.mode.toStdString());
    FUZZ_EXPECT(oneOf(config.logLevel, { "debug", "info", "warning", "error", "silent" }), "log level");
    FUZZ_EXPECT(oneOf(config.findProcessMode, { "always", "strict", "off" }), "find-process-mode");
    FUZZ_EXPECT(config.bindAddress == u"*" || !QHostAddress(config.bindAddress).isNull(), "bind address");
    if (!config.controllerHost.isEmpty())
        FUZZ_EXPECT(!QHostAddress(config.controllerHost).isNull() && config.controllerPort > 0, "controller address");
    for (const auto &[a, b] : { std::pair(config.mixedPort, config.socksPort), std::pair(config.mixedPort, config.controllerPort),
             std::pair(config.socksPort, config.controllerPort) })
        FUZZ_EXPECT(a == 0 || a != b, "two listeners on port " + std::to_string(a));

    QSet<QString> names { QStringLiteral("DIRECT"), QStringLiteral("REJECT") };
    checkNodes(config.proxies, names);
    QSet<QString> providers;
    for (const ProviderConfig &provider : config.providers) {
        providers.insert(provider.name);
        FUZZ_EXPECT(QDir::isAbsolutePath(provider.path) && QDir::cleanPath(provider.path) == provider.path,
            "provider path " + provider.path.toStdString());
        const QUrl url(provider.url);
        FUZZ_EXPECT((url.scheme() == u"http" || url.scheme() == u"https") && !url.host().isEmpty(),
            "provider address " + provider.url.toStdString());
    }
    for (const GroupConfig &group : config.groups) {
        FUZZ_EXPECT(!names.contains(group.name), "group name " + group.name.toStdString() + " taken");
        names.insert(group.name);
        FUZZ_EXPECT(oneOf(group.type, { "select", "url-test" }), "group type " + group.type.toStdString());
        FUZZ_EXPECT(!group.proxies.isEmpty() || !group.use.isEmpty(), "empty group " + group.name.toStdString());
    }
    for (const GroupConfig &group : config.groups) {
        for (const QString &member : group.proxies)
            FUZZ_EXPECT(names.contains(member), "member " + member.toStdString() + " missing");
        for (const QString &provider : group.use)
            FUZZ_EXPECT(providers.contains(provider), "provider " + provider.toStdString() + " missing");
    }
    for (const RuleConfig &rule : config.rules) {
        FUZZ_EXPECT(names.contains(rule.target), "rule target " + rule.target.toStdString() + " missing");
        if (rule.type == u"MATCH")
            continue;
        FUZZ_EXPECT(oneOf(rule.type, { "DOMAIN", "DOMAIN-SUFFIX", "IP-CIDR", "IP-CIDR6" }), "rule type");
        FUZZ_EXPECT(!rule.value.isEmpty(), "empty rule value");
        if (rule.type.startsWith(u"IP-CIDR")) {
            const auto subnet = QHostAddress::parseSubnet(rule.value);
            FUZZ_EXPECT(subnet.first.protocol()
                    == (rule.type == u"IP-CIDR" ? QAbstractSocket::IPv4Protocol : QAbstractSocket::IPv6Protocol),
                "rule network " + rule.value.toStdString());
        }
    }
}

// "upload=1; download=2; total=3; expire=4": parts at ";", name and value at the first "=",
// both trimmed; the four known names with a decimal value count, the rest is skipped.
std::optional<SubscriptionInfo> userinfoModel(const QByteArray &header)
{
    SubscriptionInfo info;
    bool any = false;
    for (const QByteArray &part : header.split(';')) {
        const qsizetype equals = part.indexOf('=');
        if (equals <= 0)
            continue;
        const QByteArray name = part.left(equals).trimmed().toLower();
        const std::optional<std::int64_t> value
            = veyra::fuzz::decimal(QString::fromLatin1(part.mid(equals + 1).trimmed()));
        qint64 *field = name == "upload" ? &info.upload
            : name == "download"         ? &info.download
            : name == "total"            ? &info.total
            : name == "expire"           ? &info.expire
                                         : nullptr;
        if (!field || !value)
            continue;
        *field = *value;
        any = true;
    }
    return any ? std::optional(info) : std::nullopt;
}

} // namespace

// Input: a configuration file for the stand-in kernel; the same bytes are also read as a
// provider's node list and as a subscription usage header.
VEYRA_FUZZ_TARGET(standinConfig)
{
    const QByteArray bytes(input.data(), static_cast<qsizetype>(input.size()));
    bool accepted = false;
    bool mapping = true;
    try {
        checkAccepted(KernelConfig::parse(bytes, QStringLiteral("/home/fuzz/.config/kernel")));
        accepted = true;
    } catch (const ConfigError &error) {
        mapping = std::string_view(error.what()) != "the configuration must be a mapping";
    }

    // A header value never holds NUL (Qt's number reading would stop there).
    if (!bytes.contains('\0')) {
        const auto info = parseSubscriptionUserinfo(bytes);
        const auto expected = userinfoModel(bytes);
        FUZZ_EXPECT(info.has_value() == expected.has_value()
                && (!info
                    || std::tie(info->upload, info->download, info->total, info->expire)
                        == std::tie(expected->upload, expected->download, expected->total, expected->expire)),
            "usage header " + veyra::fuzz::printable(input));
    }

    // A provider's document, read the way the provider reads a download or its cache. Loading
    // the YAML is most of this target's time, so the second load is left out where it cannot
    // tell anything new: an accepted configuration already had its "proxies" through the same
    // reader and checks, a document that is no mapping has no key, and a "proxies" key needs
    // those letters in the bytes unless an escape or a UTF-16/32 encoding (NUL bytes) wrote them.
    if (accepted || !mapping
        || (!bytes.contains("proxies") && !bytes.contains('\\') && !bytes.contains('\0')))
        return;
    YAML::Node root;
    try {
        root = YAML::Load(bytes.toStdString());
    } catch (const YAML::Exception &) {
        return;
    }
    if (root.IsMap() && root["proxies"]) {
        try {
            QSet<QString> names;
            checkNodes(parseNodes(root["proxies"], QStringLiteral("provider fuzz")), names);
        } catch (const ConfigError &) {
        }
    }
}
