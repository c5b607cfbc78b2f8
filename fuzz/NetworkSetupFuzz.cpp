#include "FuzzModels.h"
#include "FuzzTarget.h"

#include "Errors.h"
#include "NetworkSetupOutput.h"
#include "ProxySnapshot.h"

using namespace veyra;
using namespace veyra::fuzz;

namespace {

// The reading rules of networksetup's output, stated again: lines are what lies between line
// breaks (CR, LF or both), empty ones left out.
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

QMap<QString, QString> dictionaryModel(const QStringList &lines)
{
    QMap<QString, QString> map;
    for (const QString &line : lines) {
        const qsizetype colon = line.indexOf(u':');
        if (colon < 0)
            continue;
        const QString left = line.left(colon);
        const QString right = line.mid(colon + 1);
        if (left.isEmpty() || right.isEmpty())
            continue;
        const auto spaceOrTab = [](QChar c) { return c == u' ' || c == u'\t'; };
        map[trimmedBy(left, spaceOrTab).toLower()] = trimmedBy(right, spaceOrTab);
    }
    return map;
}

bool enabledModel(const QMap<QString, QString> &map)
{
    const QString value = map.value(QStringLiteral("enabled"), map.value(QStringLiteral("auto proxy discovery")));
    return QStringList { "yes", "on", "1", "true" }.contains(value.toLower());
}

QString described(const ProxyEndpointState &state)
{
    return QStringLiteral("%1 %2 %3").arg(state.enabled).arg(state.server).arg(state.port);
}

} // namespace

// Input: the text one networksetup run printed; every reader looks at it.
VEYRA_FUZZ_TARGET(networkSetup)
{
    const QString text = qtext(input);
    const QStringList lines = linesModel(text);

    const QMap<QString, QString> dictionary = dictionaryModel(lines);
    FUZZ_EXPECT(NetworkSetupOutput::dictionary(text) == dictionary, "dictionary of " + printable(input));
    FUZZ_EXPECT(NetworkSetupOutput::isEnabled(dictionary) == enabledModel(dictionary), "enabled");

    const ProxyEndpointState endpoint = NetworkSetupOutput::endpoint(text);
    const ProxyEndpointState expectedEndpoint { enabledModel(dictionary),
        trimmedWhiteSpace(dictionary.value(QStringLiteral("server"))),
        decimal(dictionary.value(QStringLiteral("port"))).value_or(0) };
    FUZZ_EXPECT(endpoint == expectedEndpoint,
        printable((described(endpoint) + QStringLiteral(" instead of ") + described(expectedEndpoint)).toStdString()));

    QStringList domains;
    for (const QString &line : lines) {
        const QString lower = line.toLower();
        if (!lower.contains(u"there aren't any") && !lower.contains(u"no bypass"))
            domains << line;
    }
    FUZZ_EXPECT(NetworkSetupOutput::bypassDomains(text) == domains, "bypass domains");

    const QString lower = text.toLower();
    const bool discovery = lower.contains(u"on") || lower.contains(u"yes") || lower.contains(u"enabled: 1");
    FUZZ_EXPECT(NetworkSetupOutput::autoDiscoveryEnabled(text) == discovery, "auto discovery");

    QStringList services;
    bool address = false;
    for (const QString &line : lines) {
        if (!line.startsWith(u"An asterisk") && !line.startsWith(u'*'))
            services << line;
        const QString lowerLine = line.toLower();
        if (lowerLine.startsWith(u"ip address:") && !lowerLine.contains(u"none")
            && !lowerLine.endsWith(u"0.0.0.0"))
            address = true;
    }
    FUZZ_EXPECT(NetworkSetupOutput::listedServices(text) == services, "listed services");
    FUZZ_EXPECT(NetworkSetupOutput::hasAddress(text) == address, "has address");

    // What was read goes into the crash journal and must come back from it unchanged.
    NetworkServiceProxySnapshot service;
    service.service = services.value(0, QStringLiteral("Wi-Fi"));
    service.web = endpoint;
    service.secureWeb = { !endpoint.enabled, endpoint.server, -endpoint.port };
    service.socks = endpoint;
    service.bypassDomains = domains;
    service.autoProxyURL = dictionary.value(QStringLiteral("url"));
    service.autoProxyEnabled = enabledModel(dictionary);
    service.autoDiscoveryEnabled = discovery;
    const ProxySnapshot snapshot { endpoint.port, { service } };
    const ProxySnapshot restored
        = ProxySnapshot::fromJson(json::parse(QByteArray::fromStdString(snapshot.toJson().dump())));
    FUZZ_EXPECT(restored.appliedPort == snapshot.appliedPort && restored.services.size() == 1
            && restored.services[0] == service,
        "the snapshot changed in its file");

    // The journal file itself may be damaged in any way: that is a decoding error, nothing else.
    if (const auto file = jsonOf(input))
        unlessThrows<Error>([&] { return ProxySnapshot::fromJson(*file); });
}
