#include "FuzzModels.h"

#include "Errors.h"
#include "NetworkSetupOutput.h"
#include "ProxySnapshot.h"

#include <QMap>

using namespace veyra;
using namespace veyra::fuzz;

namespace {

// What lies between line breaks (CR, LF or both), empty lines left out.
QStringList linesModel(const QString &text)
{
    QStringList lines { QString() };
    for (const QChar c : text)
        if (c == u'\r' || c == u'\n')
            lines << QString();
        else
            lines.last() += c;
    lines.removeAll(QString());
    return lines;
}

// "Key: value" lines, both sides trimmed of spaces and tabs, the key in lower case; a line
// without a colon or with nothing on one side of the first is left out.
QMap<QString, QString> dictionaryModel(const QStringList &lines)
{
    QMap<QString, QString> map;
    const auto spaceOrTab = [](QChar c) { return c == u' ' || c == u'\t'; };
    for (const QString &line : lines)
        if (const qsizetype colon = line.indexOf(u':'); colon > 0 && colon + 1 < line.size())
            map[trimmedBy(line.left(colon), spaceOrTab).toLower()] = trimmedBy(line.mid(colon + 1), spaceOrTab);
    return map;
}

bool enabledModel(const QMap<QString, QString> &map)
{
    const QString value = map.value("enabled", map.value("auto proxy discovery"));
    return QStringList { "yes", "on", "1", "true" }.contains(value.toLower());
}

} // namespace

// Input: the text one networksetup run printed; every reader looks at it.
VEYRA_FUZZ_TARGET(networksetup)
{
    const QString text = qtext(input);
    const QStringList lines = linesModel(text);
    const QMap<QString, QString> dictionary = dictionaryModel(lines);
    const ProxyEndpointState endpoint = NetworkSetupOutput::endpoint(text);
    const ProxyEndpointState expected { enabledModel(dictionary), trimmedWhiteSpace(dictionary.value("server")),
        decimal(dictionary.value("port")).value_or(0) };
    FUZZ_EXPECT(NetworkSetupOutput::dictionary(text) == dictionary
            && NetworkSetupOutput::isEnabled(dictionary) == expected.enabled && endpoint == expected,
        "dictionary or endpoint of " + printable(input) + ": " + endpoint.server.toStdString() + ":"
            + std::to_string(endpoint.port));

    QStringList domains, services;
    bool address = false;
    for (const QString &line : lines) {
        const QString lower = line.toLower();
        if (!lower.contains(u"there aren't any") && !lower.contains(u"no bypass"))
            domains << line;
        if (!line.startsWith(u"An asterisk") && !line.startsWith(u'*'))
            services << line;
        address
            = address || (lower.startsWith(u"ip address:") && !lower.contains(u"none") && !lower.endsWith(u"0.0.0.0"));
    }
    const QString lower = text.toLower();
    const bool discovery = lower.contains(u"on") || lower.contains(u"yes") || lower.contains(u"enabled: 1");
    FUZZ_EXPECT(NetworkSetupOutput::bypassDomains(text) == domains
            && NetworkSetupOutput::listedServices(text) == services && NetworkSetupOutput::hasAddress(text) == address
            && NetworkSetupOutput::autoDiscoveryEnabled(text) == discovery,
        "domains, services, address or discovery of " + printable(input));

    // What was read goes into the crash journal and must come back from it unchanged.
    const NetworkServiceProxySnapshot service { services.value(0, "Wi-Fi"), endpoint,
        { !endpoint.enabled, endpoint.server, -endpoint.port }, endpoint, domains, dictionary.value("url"),
        enabledModel(dictionary), discovery };
    const ProxySnapshot snapshot { endpoint.port, { service } }, restored = reread(snapshot);
    FUZZ_EXPECT(restored.appliedPort == snapshot.appliedPort && restored.services == snapshot.services,
        "the snapshot changed in its file");

    // The journal file itself may be damaged in any way: that is a decoding error, nothing else.
    if (const auto file = jsonOf(input))
        unlessThrows<Error>([&] { return ProxySnapshot::fromJson(*file); });
}
