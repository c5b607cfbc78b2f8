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
    QJsonObject shownHints;
    for (auto hint = hints.begin(); hint != hints.end(); ++hint) {
        // A byte hint ("urgency") would otherwise become a one-character string.
        const int type = hint.value().metaType().id();
        shownHints.insert(hint.key(),
            type == QMetaType::UChar || type == QMetaType::Char ? QJsonValue(hint.value().toInt())
                                                                : QJsonValue::fromVariant(hint.value()));
    }
    const QJsonObject line { { QStringLiteral("id"), qint64(id) }, { QStringLiteral("application"), application },
        { QStringLiteral("title"), title }, { QStringLiteral("body"), body }, { QStringLiteral("hints"), shownHints } };
    std::fprintf(m_out, "%s\n", QJsonDocument(line).toJson(QJsonDocument::Compact).constData());
    std::fflush(m_out); // read by tests while the server runs
    return id;
}

void NotificationRecorder::CloseNotification(uint) { }
