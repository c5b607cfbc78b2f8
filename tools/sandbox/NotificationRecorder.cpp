#include "NotificationRecorder.h"

#include <QJsonDocument>
#include <QJsonObject>

NotificationRecorder::NotificationRecorder(std::FILE *out)
    : m_out(out)
{
}

QString NotificationRecorder::GetServerInformation(QString &vendor, QString &version, QString &specificationVersion)
{
    vendor = QStringLiteral("veyra sandbox");
    version = QStringLiteral("1");
    specificationVersion = QStringLiteral("1.2");
    return QStringLiteral("sandbox notification server");
}

QStringList NotificationRecorder::GetCapabilities()
{
    return { QStringLiteral("body") };
}

uint NotificationRecorder::Notify(const QString &application, uint replacesId, const QString &, const QString &title,
    const QString &body, const QStringList &, const QVariantMap &hints, int)
{
    const uint id = replacesId ? replacesId : m_nextId++;
    const QJsonObject line { { QStringLiteral("id"), qint64(id) }, { QStringLiteral("application"), application },
        { QStringLiteral("title"), title }, { QStringLiteral("body"), body },
        { QStringLiteral("hints"), QJsonObject::fromVariantMap(hints) } };
    std::fprintf(m_out, "%s\n", QJsonDocument(line).toJson(QJsonDocument::Compact).constData());
    std::fflush(m_out); // read by tests while the server runs
    return id;
}

void NotificationRecorder::CloseNotification(uint) { }
