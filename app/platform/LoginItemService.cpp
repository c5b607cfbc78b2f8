#include "LoginItemService.h"

#include "AppInfo.h"
#include "Errors.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace veyra {

namespace {

// A desktop-entry value: the whole line after "Key=", trimmed; empty when absent.
QString entryValue(const QByteArray &entry, const QByteArray &key)
{
    for (const QByteArray &line : entry.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.startsWith(key + '='))
            return QString::fromUtf8(trimmed.mid(key.size() + 1)).trimmed();
    }
    return {};
}

// The Exec line quotes the path the way desktop entries require.
QByteArray quotedForExec(const QString &path)
{
    QByteArray quoted = path.toUtf8();
    for (const char special : { '\\', '"', '`', '$' })
        quoted.replace(QByteArray(1, special), QByteArray("\\") + special);
    return '"' + quoted + '"';
}

} // namespace

LoginItemService::LoginItemService(QString autostartDirectory, QString executable)
    : m_directory(std::move(autostartDirectory))
    , m_executable(std::move(executable))
{
}

QString LoginItemService::defaultAutostartDirectory()
{
    QString base = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/autostart");
}

QString LoginItemService::defaultExecutable()
{
    return QCoreApplication::applicationFilePath();
}

QString LoginItemService::entryPath() const
{
    return m_directory + QLatin1Char('/') + QString::fromLatin1(AppInfo::identifier) + QStringLiteral(".desktop");
}

LoginItemService::Status LoginItemService::status() const
{
    const QFileInfo executable(m_executable);
    if (m_executable.isEmpty() || !executable.isFile() || !executable.isExecutable())
        return Status::notFound;
    QFile file(entryPath());
    if (!file.exists())
        return Status::notRegistered;
    if (!file.open(QIODevice::ReadOnly))
        return Status::requiresApproval;
    const QByteArray entry = file.read(64 * 1024);
    if (entryValue(entry, "Hidden").compare(QLatin1String("true"), Qt::CaseInsensitive) == 0
        || entryValue(entry, "X-GNOME-Autostart-enabled").compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return Status::requiresApproval;
    return Status::enabled;
}

void LoginItemService::setEnabled(bool enabled) const
{
    const Status now = status();
    if (enabled) {
        if (now == Status::enabled)
            return;
        if (now == Status::notFound)
            throw SystemError(QStringLiteral("找不到应用程序：") + m_executable);
        if (!QDir().mkpath(m_directory))
            throw SystemError(QStringLiteral("无法创建目录 ") + m_directory);
        QSaveFile file(entryPath());
        const QByteArray entry = "[Desktop Entry]\nType=Application\nName=" + QByteArray(AppInfo::displayName)
            + "\nExec=" + quotedForExec(m_executable) + "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
        if (!file.open(QIODevice::WriteOnly) || file.write(entry) != entry.size() || !file.commit())
            throw SystemError(file.errorString());
        return;
    }
    if (now != Status::enabled && now != Status::requiresApproval)
        return;
    QFile file(entryPath());
    if (!file.remove())
        throw SystemError(file.errorString());
}

} // namespace veyra
