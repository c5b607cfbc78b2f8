#include "KioslavercProxyStore.h"

#include "AppPaths.h"
#include "Errors.h"
#include "KConfigText.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/stat.h>

namespace veyra {

namespace {

const QString group = QStringLiteral("Proxy Settings");
// The group itself, as one more key of the store: it holds "" where the file has the group and
// nothing where it has not. It comes first, so a restore (which goes in reverse) takes the group
// away, if it was not there before, only after its entries; a group that was there, even empty,
// stays.
const QString groupKey = QLatin1Char('[') + group + QLatin1Char(']');
// The file, in the same way and before the group: a file that was there, even empty, stays; one
// we created goes once nothing but our entries was in it.
const QString fileKey = QStringLiteral("(file)");

// What KDE's proxy settings module writes for a manual proxy: the scheme, the host, a space
// and the port.
QString proxyAddress(const char *scheme, qint64 port)
{
    return QStringLiteral("%1://127.0.0.1 %2").arg(QLatin1String(scheme)).arg(port);
}

// Tells every running KDE application (through KIO's scheduler) to read its proxy settings
// again. Without a session bus nobody is running who could listen, so there is nothing to tell.
void announceChange()
{
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/KIO/Scheduler"),
        QStringLiteral("org.kde.KIO.Scheduler"), QStringLiteral("reparseSlaveConfiguration"));
    signal << QString();
    QDBusConnection::sessionBus().send(signal);
}

} // namespace

KioslavercProxyStore::KioslavercProxyStore(QString configFolder)
{
    if (configFolder.isEmpty())
        configFolder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    m_path = configFolder + QStringLiteral("/kioslaverc");
}

bool KioslavercProxyStore::present()
{
    if (QFileInfo::exists(m_path))
        return true;
    const QStringList desktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':');
    return desktops.contains(QStringLiteral("KDE"), Qt::CaseInsensitive);
}

std::vector<ProxySettingsStore::Entry> KioslavercProxyStore::proxyEntries(qint64 port) const
{
    return {
        { fileKey, QString(QLatin1String("")) },
        { groupKey, QString(QLatin1String("")) },
        { QStringLiteral("ProxyType"), QStringLiteral("1") }, // manual
        { QStringLiteral("httpProxy"), proxyAddress("http", port) },
        { QStringLiteral("httpsProxy"), proxyAddress("http", port) },
        { QStringLiteral("socksProxy"), proxyAddress("socks", port) },
        { QStringLiteral("NoProxyFor"), QStringLiteral("localhost,127.0.0.1,::1,*.local,169.254.0.0/16") },
    };
}

QByteArray KioslavercProxyStore::contents() const
{
    QFile file(m_path);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly))
        throw SystemError(QStringLiteral("无法读取文件 %1: %2").arg(m_path, file.errorString()));
    return file.readAll();
}

ProxySettingsStore::Value KioslavercProxyStore::read(const QString &key)
{
    if (key == fileKey)
        return QFileInfo::exists(m_path) ? Value(QString(QLatin1String(""))) : std::nullopt;
    if (key == groupKey)
        return KConfigText::hasGroup(contents(), group) ? Value(QString(QLatin1String(""))) : std::nullopt;
    return KConfigText::entry(contents(), group, key);
}

void KioslavercProxyStore::replaceContents(const QByteArray &bytes, bool keepFile) const
{
    // A configuration folder kept under version control often links its files elsewhere: the
    // file linked to is the one KDE reads, so that is the one replaced.
    const QFileInfo info(m_path);
    const QString target = info.exists() ? info.canonicalFilePath() : m_path;
    struct stat before { };
    const bool existed = ::stat(QFile::encodeName(target).constData(), &before) == 0;
    if (bytes.isEmpty() && !keepFile) {
        AppPaths::removeIfExists(target);
        return;
    }
    AppPaths::writeFileAtomically(target, bytes);
    if (existed)
        ::chmod(QFile::encodeName(target).constData(), before.st_mode & 07777);
}

void KioslavercProxyStore::write(const std::vector<Entry> &entries)
{
    const QByteArray before = contents();
    const bool existed = QFileInfo::exists(m_path);
    bool keepFile = existed;
    QByteArray after = before;
    for (const Entry &entry : entries) {
        // A value read from one line never holds a line break; one that does would add lines
        // of its own to the file.
        if (entry.value && entry.value->contains(u'\n'))
            throw SystemError(QStringLiteral("代理设置“%1”的值无效。").arg(entry.key));
        if (entry.key == fileKey)
            keepFile = entry.value.has_value();
        else if (entry.key == groupKey)
            after = entry.value ? KConfigText::withGroup(after, group) : KConfigText::withoutEmptyGroup(after, group);
        else
            after = KConfigText::withEntry(after, group, entry.key, entry.value);
    }
    if (after != before || keepFile != existed)
        replaceContents(after, keepFile);
    announceChange();
}

} // namespace veyra
