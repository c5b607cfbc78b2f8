#include "FuzzModels.h"

#include "KernelConfig.h"
#include "ProviderStore.h"

#include <QDir>
#include <QHostAddress>
#include <QSet>
#include <QUrl>

#include <yaml-cpp/yaml.h>

using namespace standin;
using namespace veyra::fuzz;

namespace {

void checkNodes(const QList<NodeConfig> &nodes, QSet<QString> &names)
{
    for (const NodeConfig &node : nodes) {
        FUZZ_EXPECT(!names.contains(node.name) && oneOf(node.type, { "socks5", "http" }) && node.port >= 1,
            "proxy " + node.name.toStdString());
        names.insert(node.name);
    }
}

// What a configuration the kernel accepted promises to the code that runs it.
void checkAccepted(const KernelConfig &config)
{
    FUZZ_EXPECT(isKnownMode(config.mode) && oneOf(config.logLevel, { "debug", "info", "warning", "error", "silent" })
            && oneOf(config.findProcessMode, { "always", "strict", "off" }),
        "mode, log level or find-process-mode");
    FUZZ_EXPECT((config.bindAddress == u"*" || !QHostAddress(config.bindAddress).isNull())
            && (config.controllerHost.isEmpty()
                || (!QHostAddress(config.controllerHost).isNull() && config.controllerPort > 0)),
        "listening address");
    for (const auto &[a, b] : { std::pair(config.mixedPort, config.socksPort),
             std::pair(config.mixedPort, config.controllerPort), std::pair(config.socksPort, config.controllerPort) })
        FUZZ_EXPECT(a == 0 || a != b, "two listeners on port " + std::to_string(a));

    QSet<QString> names { "DIRECT", "REJECT" }, providers;
    checkNodes(config.proxies, names);
    for (const ProviderConfig &provider : config.providers) {
        providers.insert(provider.name);
        const QUrl url(provider.url);
        FUZZ_EXPECT(QDir::isAbsolutePath(provider.path) && QDir::cleanPath(provider.path) == provider.path
                && oneOf(url.scheme(), { "http", "https" }) && !url.host().isEmpty(),
            "provider " + provider.path.toStdString() + " from " + provider.url.toStdString());
    }
    for (const GroupConfig &group : config.groups) {
        FUZZ_EXPECT(!names.contains(group.name) && oneOf(group.type, { "select", "url-test" })
                && !(group.proxies.isEmpty() && group.use.isEmpty()),
            "group " + group.name.toStdString());
        names.insert(group.name);
    }
    for (const GroupConfig &group : config.groups)
        FUZZ_EXPECT(names.contains(QSet(group.proxies.begin(), group.proxies.end()))
                && providers.contains(QSet(group.use.begin(), group.use.end())),
            "a member of " + group.name.toStdString() + " is missing");
    for (const RuleConfig &rule : config.rules) {
        const auto family = rule.type == u"IP-CIDR" ? QAbstractSocket::IPv4Protocol : QAbstractSocket::IPv6Protocol;
        FUZZ_EXPECT(names.contains(rule.target)
                && (rule.type == u"MATCH"
                    || (oneOf(rule.type, { "DOMAIN", "DOMAIN-SUFFIX", "IP-CIDR", "IP-CIDR6" })
                        && !rule.value.isEmpty()))
                && (!rule.type.startsWith(u"IP-CIDR")
                    || QHostAddress::parseSubnet(rule.value).first.protocol() == family),
            "rule " + rule.type.toStdString() + "," + rule.value.toStdString() + "," + rule.target.toStdString());
    }
}

// "upload=1; download=2; total=3; expire=4": parts at ";", name and value at the first "=",
// both trimmed; the four known names with a decimal value count, the rest is skipped.
std::optional<SubscriptionInfo> userinfoModel(const QByteArray &header)
{
    const std::map<QByteArray, qint64 SubscriptionInfo::*> fields { { "upload", &SubscriptionInfo::upload },
        { "download", &SubscriptionInfo::download }, { "total", &SubscriptionInfo::total },
        { "expire", &SubscriptionInfo::expire } };
    SubscriptionInfo info;
    bool any = false;
    for (const QByteArray &part : header.split(';')) {
        const qsizetype equals = part.indexOf('=');
        const auto field = fields.find(equals > 0 ? part.left(equals).trimmed().toLower() : QByteArray());
        if (const auto value = decimal(QString::fromLatin1(part.mid(equals + 1).trimmed()));
            value && field != fields.end())
            any = (info.*field->second = *value, true);
    }
    return any ? std::optional(info) : std::nullopt;
}

} // namespace

// Input: a configuration file for the stand-in kernel; the same bytes are also read as a
// provider's node list and as a subscription usage header.
VEYRA_FUZZ_TARGET(standin_config)
{
    const QByteArray bytes = bytesOf(input);
    const auto refusal = thrownBy<ConfigError>(
        [&] { checkAccepted(KernelConfig::parse(bytes, QStringLiteral("/home/fuzz/.config/kernel"))); });

    // A header value never holds NUL (Qt's number reading would stop there).
    const auto info = bytes.contains('\0') ? std::nullopt : parseSubscriptionUserinfo(bytes);
    const auto expected = bytes.contains('\0') ? std::nullopt : userinfoModel(bytes);
    const auto fields = [](const SubscriptionInfo &i) { return std::tuple(i.upload, i.download, i.total, i.expire); };
    FUZZ_EXPECT(info.has_value() == expected.has_value() && (!info || fields(*info) == fields(*expected)),
        "usage header " + printable(input));

    // A provider's document, read the way the provider reads a download or its cache. Loading
    // the YAML is most of this target's time, so the second load is left out where it cannot
    // tell anything new: an accepted configuration already had its "proxies" through the same
    // reader and checks, a document that is no mapping has no key, and a "proxies" key needs
    // those letters in the bytes unless an escape or a UTF-16/32 encoding (NUL bytes) wrote them.
    if (!refusal || refusal == "the configuration must be a mapping"
        || (!bytes.contains("proxies") && !bytes.contains('\\') && !bytes.contains('\0')))
        return;
    auto root = unlessThrows<YAML::Exception>([&] { return YAML::Load(bytes.toStdString()); });
    QSet<QString> names;
    if (root && root->IsMap() && (*root)["proxies"])
        thrownBy<ConfigError>([&] { checkNodes(parseNodes((*root)["proxies"], "provider fuzz"), names); });
}
