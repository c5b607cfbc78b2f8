#include "NotificationServer.h"

#include <QDBusConnectionInterface>

namespace veyra::test {

namespace {
const QString serverConnectionName = QStringLiteral("veyra-test-notification-server");

QString privateBusAddress()
{
    return QString::fromLocal8Bit(qgetenv("DBUS_SESSION_BUS_ADDRESS"));
}
} // namespace

NotificationServer::NotificationServer()
    : m_connection(QDBusConnection::connectToBus(privateBusAddress(), serverConnectionName))
{
    m_registered = m_connection.isConnected()
        && m_connection.registerObject(
            QStringLiteral("/org/freedesktop/Notifications"), this, QDBusConnection::ExportAllSlots)
        && m_connection.registerService(QStringLiteral("org.freedesktop.Notifications"));
}

NotificationServer::~NotificationServer()
{
    m_connection.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    m_connection.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    QDBusConnection::disconnectFromBus(serverConnectionName);
}

QDBusConnection NotificationServer::clientConnection(const QString &name)
{
    return QDBusConnection::connectToBus(privateBusAddress(), name);
}

QStringList NotificationServer::bodies() const
{
    QStringList texts;
    for (const Shown &shown : m_shown)
        texts << shown.body;
    return texts;
}

QString NotificationServer::GetServerInformation(QString &vendor, QString &version, QString &specificationVersion)
{
    vendor = QStringLiteral("veyra tests");
    version = QStringLiteral("1");
    specificationVersion = QStringLiteral("1.2");
    return QStringLiteral("test notification server");
}

uint NotificationServer::Notify(const QString &application, uint, const QString &, const QString &title,
    const QString &body, const QStringList &, const QVariantMap &hints, int)
{
    m_shown.append({ application, title, body, hints });
    return m_nextId++;
}

} // namespace veyra::test
