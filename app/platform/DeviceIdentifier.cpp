#include "DeviceIdentifier.h"

#include "AppInfo.h"

#include <QFile>
#include <QMessageAuthenticationCode>
#include <QSysInfo>

namespace veyra::DeviceIdentifier {

QString derive(const QByteArray &machineId)
{
    // Keyed so that the value differs from what other programs derive from the same id and
    // cannot be turned back into the raw machine id.
    return QString::fromLatin1(QMessageAuthenticationCode::hash(
        machineId.trimmed(), QByteArray(AppInfo::identifier), QCryptographicHash::Sha256)
                                   .toHex());
}

QString current()
{
    static const QString value = [] {
        QByteArray machineId;
        QFile file(QStringLiteral("/etc/machine-id"));
        if (file.open(QIODevice::ReadOnly))
            machineId = file.read(256).trimmed();
        if (machineId.isEmpty())
            machineId = QSysInfo::machineUniqueId();
        if (machineId.isEmpty())
            machineId = QSysInfo::machineHostName().toUtf8();
        return derive(machineId);
    }();
    return value;
}

} // namespace veyra::DeviceIdentifier
