#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <cstdio>

// org.freedesktop.Notifications as a desktop shows it, except that every notification becomes
// one JSON line on the given stream (application, title, body, hints) instead of a bubble.
class NotificationRecorder : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    explicit NotificationRecorder(std::FILE *out);

public slots:
    QString GetServerInformation(QString &vendor, QString &version, QString &specificationVersion);
    QStringList GetCapabilities();
    uint Notify(const QString &application, uint replacesId, const QString &icon, const QString &title,
        const QString &body, const QStringList &actions, const QVariantMap &hints, int timeout);
    void CloseNotification(uint id);

private:
    std::FILE *m_out;
    uint m_nextId = 1;
};
