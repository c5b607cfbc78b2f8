#include "SettingsSnapshot.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

#include <algorithm>

namespace veyra::e2e {

namespace {

// A tool of the user's session; empty when it cannot run or fails.
QByteArray tool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(10'000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return {};
    return process.readAllStandardOutput();
}

QString gnome(const QString &schema, const QString &key)
{
    return QString::fromUtf8(tool(u"gsettings"_s, { u"get"_s, schema, key }).trimmed());
}

QString kde(const QString &key)
{
    return QString::fromUtf8(
        tool(u"kreadconfig5"_s, { u"--file"_s, u"kioslaverc"_s, u"--group"_s, u"Proxy Settings"_s, u"--key"_s, key })
            .trimmed());
}

QString proxyText(const QJsonObject &endpoint)
{
    return u"%1 %2:%3"_s
        .arg(endpoint.value(u"enabled"_s).toBool() ? u"on"_s : u"off"_s, endpoint.value(u"server"_s).toString())
        .arg(endpoint.value(u"port"_s).toInt());
}

// Whether the services' settings `after` are those of `before` as a restore leaves them:
// equal, except that an endpoint that was off and named no server may name one now (the tool
// cannot clear a server, so switching the endpoint off is all a restore can do for it).
bool restoredAsBefore(const QByteArray &before, const QByteArray &after)
{
    const QJsonArray was = QJsonDocument::fromJson(before).array();
    QJsonArray now = QJsonDocument::fromJson(after).array();
    for (qsizetype i = 0; i < std::min(was.size(), now.size()); ++i) {
        QJsonObject service = now.at(i).toObject();
        for (const QString &kind : { u"web"_s, u"secureWeb"_s, u"socks"_s }) {
            const QJsonObject old = was.at(i).toObject().value(kind).toObject();
            const bool unnamed = !old.value(u"enabled"_s).toBool() && old.value(u"server"_s).toString().isEmpty();
            if (unnamed && !service.value(kind).toObject().value(u"enabled"_s).toBool())
                service.insert(kind, old);
        }
        now.replace(i, service);
    }
    return !was.isEmpty() && QJsonDocument(now).toJson(QJsonDocument::Compact) == before;
}

} // namespace

QByteArray SettingsSnapshot::take() const
{
    if (desktop()) {
        QFile file(kioslaverc);
        const QByteArray read = file.open(QIODevice::ReadOnly) ? file.readAll() : "(none)\n"_ba;
        return "dconf dump /:\n"_ba + tool(u"dconf"_s, { u"dump"_s, u"/"_s }) + "kioslaverc:\n"_ba + read;
    }
    QFile file(networkState);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // The services' settings only: the tool also keeps a history of the commands it ran.
    const QJsonArray services = QJsonDocument::fromJson(file.readAll()).object().value(u"services"_s).toArray();
    return QJsonDocument(services).toJson(QJsonDocument::Compact);
}

bool SettingsSnapshot::restored(const QByteArray &before, const QByteArray &after) const
{
    return desktop() ? !before.isEmpty() && before == after : restoredAsBefore(before, after);
}

bool SettingsSnapshot::pointsAt(int port, const std::function<void(const QString &)> &say) const
{
    if (desktop()) {
        const QString system = u"org.gnome.system.proxy"_s;
        const QStringList gnomeSeen { gnome(system, u"mode"_s), gnome(system + u".http"_s, u"host"_s),
            gnome(system + u".http"_s, u"port"_s), gnome(system + u".https"_s, u"host"_s),
            gnome(system + u".https"_s, u"port"_s) };
        const QStringList kdeSeen { kde(u"ProxyType"_s), kde(u"httpProxy"_s), kde(u"httpsProxy"_s) };
        say(u"  GNOME: %1"_s.arg(gnomeSeen.join(u", "_s)));
        say(u"  KDE: %1"_s.arg(kdeSeen.join(u", "_s)));
        const QString portText = QString::number(port);
        // KDE's own module writes "scheme://host port"; a colon would do for its readers too.
        const auto kdePoints = [&](const QString &value) {
            return value.contains(u"127.0.0.1"_s) && value.endsWith(portText)
                && !value.at(value.size() - portText.size() - 1).isDigit();
        };
        return gnomeSeen == QStringList { u"'manual'"_s, u"'127.0.0.1'"_s, portText, u"'127.0.0.1'"_s, portText }
        && kdeSeen.at(0) == u"1"_s && kdePoints(kdeSeen.at(1)) && kdePoints(kdeSeen.at(2));
    }
    const QJsonArray services = QJsonDocument::fromJson(take()).array();
    bool allPointed = !services.isEmpty();
    for (const QJsonValue &value : services) {
        const QJsonObject service = value.toObject();
        const bool active = !service.value(u"ipAddress"_s).toString().isEmpty();
        const QString expected = u"on 127.0.0.1:%1"_s.arg(port);
        const QStringList proxies { proxyText(service.value(u"web"_s).toObject()),
            proxyText(service.value(u"secureWeb"_s).toObject()), proxyText(service.value(u"socks"_s).toObject()) };
        say(u"  %1: %2"_s.arg(service.value(u"name"_s).toString(), proxies.join(u", "_s)));
        if (active && proxies != QStringList { expected, expected, expected })
            allPointed = false;
    }
    return allPointed;
}

} // namespace veyra::e2e
