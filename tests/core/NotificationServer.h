#pragma once

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariantMap>

namespace veyra::test {

// A notification server on the test's private session bus: it owns the well-known name,
// answers Notify with a fresh id and remembers what it was asked to show.
class NotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown {
        QString application;
        QString title;
        QString body;
        QVariantMap hints;
    };

    NotificationServer();
    ~NotificationServer() override;

    bool registered() const { return m_registered; }
    const QList<Shown> &shown() const { return m_shown; }
    QStringList bodies() const;

    // A client connection of its own to the same private bus.
    static QDBusConnection clientConnection(const QString &name);

public slots:
    QString GetServerInformation(QString &vendor, QString &version, QString &specificationVersion);
    uint Notify(const QString &application, uint replacesId, const QString &icon, const QString &title,
        const QString &body, const QStringList &actions, const QVariantMap &hints, int timeout);

private:
    QDBusConnection m_connection;
    bool m_registered = false;
    uint m_nextId = 1;
    QList<Shown> m_shown;
};

} // namespace veyra::test
