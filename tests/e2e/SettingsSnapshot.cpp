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
    return QString::fromUtf8(tool(QStringLiteral("gsettings"), { QStringLiteral("get"), schema, key }).trimmed());
}

QString kde(const QString &key)
{
    return QString::fromUtf8(tool(QStringLiteral("kreadconfig5"),
        { QStringLiteral("--file"), QStringLiteral("kioslaverc"), QStringLiteral("--group"),
            QStringLiteral("Proxy Settings"), QStringLiteral("--key"), key })
                                 .trimmed());
}

QString proxyText(const QJsonObject &endpoint)
{
    return QStringLiteral("%1 %2:%3")
        .arg(endpoint.value(QStringLiteral("enabled")).toBool() ? QStringLiteral("on") : QStringLiteral("off"),
            endpoint.value(QStringLiteral("server")).toString())
        .arg(endpoint.value(QStringLiteral("port")).toInt());
}

} // namespace

SettingsSnapshot::SettingsSnapshot(QString networkState, QString kioslaverc)
    : m_networkState(std::move(networkState))
    , m_kioslaverc(std::move(kioslaverc))
{
}

QByteArray SettingsSnapshot::take() const
{
    if (desktop()) {
        QFile file(m_kioslaverc);
        const QByteArray kioslaverc = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArrayLiteral("(none)\n");
        return QByteArrayLiteral("dconf dump /:\n")
            + tool(QStringLiteral("dconf"), { QStringLiteral("dump"), QStringLiteral("/") })
            + QByteArrayLiteral("kioslaverc:\n") + kioslaverc;
    }
    QFile file(m_networkState);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // The services' settings only: the tool also keeps a history of the commands it ran.
    const QJsonArray services
        = QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("services")).toArray();
    return QJsonDocument(services).toJson(QJsonDocument::Compact);
}

bool SettingsSnapshot::restored(const QByteArray &before, const QByteArray &after) const
{
    return desktop() ? !before.isEmpty() && before == after : restoredAsBefore(before, after);
}

bool SettingsSnapshot::pointsAt(int port, const std::function<void(const QString &)> &say) const
{
    if (desktop()) {
        const QString system = QStringLiteral("org.gnome.system.proxy");
        const QStringList gnomeSeen { gnome(system, QStringLiteral("mode")),
            gnome(system + QStringLiteral(".http"), QStringLiteral("host")),
            gnome(system + QStringLiteral(".http"), QStringLiteral("port")),
            gnome(system + QStringLiteral(".https"), QStringLiteral("host")),
            gnome(system + QStringLiteral(".https"), QStringLiteral("port")) };
        const QStringList kdeSeen { kde(QStringLiteral("ProxyType")), kde(QStringLiteral("httpProxy")),
            kde(QStringLiteral("httpsProxy")) };
        say(QStringLiteral("  GNOME: %1").arg(gnomeSeen.join(QStringLiteral(", "))));
        say(QStringLiteral("  KDE: %1").arg(kdeSeen.join(QStringLiteral(", "))));
        const QString portText = QString::number(port);
        // KDE's own module writes "scheme://host port"; a colon would do for its readers too.
        const auto kdePoints = [&](const QString &value) {
            return value.contains(QStringLiteral("127.0.0.1")) && value.endsWith(portText)
                && !value.at(value.size() - portText.size() - 1).isDigit();
        };
        return gnomeSeen
            == QStringList { QStringLiteral("'manual'"), QStringLiteral("'127.0.0.1'"), portText,
                   QStringLiteral("'127.0.0.1'"), portText }
        && kdeSeen.at(0) == QStringLiteral("1") && kdePoints(kdeSeen.at(1)) && kdePoints(kdeSeen.at(2));
    }
    const QJsonArray services = QJsonDocument::fromJson(take()).array();
    bool allPointed = !services.isEmpty();
    for (const QJsonValue &value : services) {
        const QJsonObject service = value.toObject();
        const bool active = !service.value(QStringLiteral("ipAddress")).toString().isEmpty();
        const QString expected = QStringLiteral("on 127.0.0.1:%1").arg(port);
        const QStringList proxies { proxyText(service.value(QStringLiteral("web")).toObject()),
            proxyText(service.value(QStringLiteral("secureWeb")).toObject()),
            proxyText(service.value(QStringLiteral("socks")).toObject()) };
        say(QStringLiteral("  %1: %2")
                .arg(service.value(QStringLiteral("name")).toString(), proxies.join(QStringLiteral(", "))));
        if (active && proxies != QStringList { expected, expected, expected })
            allPointed = false;
    }
    return allPointed;
}

bool restoredAsBefore(const QByteArray &before, const QByteArray &after)
{
    const QJsonArray was = QJsonDocument::fromJson(before).array();
    QJsonArray now = QJsonDocument::fromJson(after).array();
    for (qsizetype i = 0; i < std::min(was.size(), now.size()); ++i) {
        QJsonObject service = now.at(i).toObject();
        for (const QString &kind : { QStringLiteral("web"), QStringLiteral("secureWeb"), QStringLiteral("socks") }) {
            const QJsonObject old = was.at(i).toObject().value(kind).toObject();
            const bool unnamed = !old.value(QStringLiteral("enabled")).toBool()
                && old.value(QStringLiteral("server")).toString().isEmpty();
            if (unnamed && !service.value(kind).toObject().value(QStringLiteral("enabled")).toBool())
                service.insert(kind, old);
        }
        now.replace(i, service);
    }
    return !was.isEmpty() && QJsonDocument(now).toJson(QJsonDocument::Compact) == before;
}

} // namespace veyra::e2e
