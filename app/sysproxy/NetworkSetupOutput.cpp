#include "NetworkSetupOutput.h"

#include <QRegularExpression>

namespace veyra::NetworkSetupOutput {

namespace {

// Only spaces and tabs, as networksetup pads its columns with them; other characters of a
// value (even trailing white space of other kinds) are part of it.
QString trimSpacesAndTabs(const QString &text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && (text[start] == u' ' || text[start] == u'\t'))
        ++start;
    while (end > start && (text[end - 1] == u' ' || text[end - 1] == u'\t'))
        --end;
    return text.mid(start, end - start);
}

QStringList nonEmptyLines(const QString &text)
{
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\n|\r"));
    return text.split(lineBreak, Qt::SkipEmptyParts);
}

// An optional sign and ASCII digits, nothing else: the platform's conversion would also take
// surrounding white space and stop at a NUL.
qint64 parsePort(const QString &text)
{
    static const QRegularExpression number(QRegularExpression::anchoredPattern(QStringLiteral("[+-]?[0-9]+")));
    if (!number.match(text).hasMatch())
        return 0;
    bool ok = false;
    qint64 value = text.toLongLong(&ok, 10);
    return ok ? value : 0;
}

} // namespace

Dictionary dictionary(const QString &text)
{
    Dictionary map;
    for (const QString &line : nonEmptyLines(text)) {
        const qsizetype colon = line.indexOf(u':');
        // Both sides must have something before trimming: "Enabled: " still names the key,
        // with an empty value that hides any fallback key.
        if (colon <= 0 || colon == line.size() - 1)
            continue;
        map.insert(trimSpacesAndTabs(line.left(colon)).toLower(), trimSpacesAndTabs(line.mid(colon + 1)));
    }
    return map;
}

bool isEnabled(const Dictionary &map)
{
    QString value = map.value(QStringLiteral("enabled"), map.value(QStringLiteral("auto proxy discovery"))).toLower();
    return value == u"yes" || value == u"on" || value == u"1" || value == u"true";
}

ProxyEndpointState endpoint(const QString &text)
{
    const Dictionary map = dictionary(text);
    return { isEnabled(map), map.value(QStringLiteral("server")).trimmed(),
        parsePort(map.value(QStringLiteral("port"))) };
}

QStringList bypassDomains(const QString &text)
{
    QStringList domains;
    for (const QString &line : nonEmptyLines(text)) {
        const QString lower = line.toLower();
        if (lower.contains(u"there aren't any") || lower.contains(u"no bypass"))
            continue;
        domains.append(line);
    }
    return domains;
}

bool autoDiscoveryEnabled(const QString &text)
{
    const QString lower = text.toLower();
    return lower.contains(u"on") || lower.contains(u"yes") || lower.contains(u"enabled: 1");
}

QStringList listedServices(const QString &text)
{
    QStringList services;
    for (const QString &line : nonEmptyLines(text)) {
        if (line.startsWith(u"An asterisk") || line.startsWith(u'*'))
            continue;
        services.append(line);
    }
    return services;
}

bool hasAddress(const QString &text)
{
    for (const QString &line : nonEmptyLines(text)) {
        const QString lower = line.toLower();
        if (lower.startsWith(u"ip address:") && !lower.contains(u"none") && !lower.endsWith(u"0.0.0.0"))
            return true;
    }
    return false;
}

} // namespace veyra::NetworkSetupOutput
