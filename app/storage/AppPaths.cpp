#include "AppPaths.h"

#include "Errors.h"

#include <QDir>
#include <QMutex>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veyra {

const char *const AppPaths::oversizeMessage = "本地数据文件超过安全大小限制。";

namespace {

QMutex rootMutex;
QString rootOverride;

QString defaultRoot()
{
    static const QString root = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/VeyraNetworkAssistant");
    return root;
}

SystemError posixError(const QString &what, const QString &path, int code = errno)
{
    return SystemError(QStringLiteral("%1 %2: %3").arg(what, path, QString::fromLocal8Bit(std::strerror(code))));
}

void makePrivateDirectory(const QString &path)
{
    if (!QDir().mkpath(path))
        throw posixError(QStringLiteral("无法创建目录"), path);
    if (::chmod(QFile::encodeName(path).constData(), 0700) != 0)
        throw posixError(QStringLiteral("无法设置目录权限"), path);
}

void writeAll(int fd, const QByteArray &bytes, const QString &path)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw posixError(QStringLiteral("无法写入文件"), path);
        }
        done += n;
    }
}

} // namespace

void AppPaths::setRootOverride(const QString &appSupportDirectory)
{
    QMutexLocker lock(&rootMutex);
    rootOverride = appSupportDirectory;
}

QString AppPaths::appSupport()
{
    QMutexLocker lock(&rootMutex);
    return rootOverride.isEmpty() ? defaultRoot() : rootOverride;
}

QString AppPaths::settings()
{
    return appSupport() + QStringLiteral("/settings.json");
}
QString AppPaths::sessionIdentity()
{
    return appSupport() + QStringLiteral("/session-identity.json");
}
QString AppPaths::trafficUsage()
{
    return appSupport() + QStringLiteral("/traffic-usage.json");
}
QString AppPaths::pendingOrder()
{
    return appSupport() + QStringLiteral("/pending-order.json");
}
QString AppPaths::proxyBackup()
{
    return appSupport() + QStringLiteral("/proxy-backup-v2.json");
}
// The desktop backend's journal: its own format, so each backend only ever reads its own file.
QString AppPaths::desktopProxyBackup()
{
    return appSupport() + QStringLiteral("/desktop-proxy-backup-v1.json");
}
QString AppPaths::coreDirectory()
{
    return appSupport() + QStringLiteral("/Core");
}
QString AppPaths::core()
{
    return coreDirectory() + QStringLiteral("/mihomo");
}
QString AppPaths::config()
{
    return coreDirectory() + QStringLiteral("/config.yaml");
}
QString AppPaths::providersDirectory()
{
    return coreDirectory() + QStringLiteral("/providers");
}
QString AppPaths::logs()
{
    return appSupport() + QStringLiteral("/Logs");
}

void AppPaths::prepare()
{
    for (const QString &directory : { appSupport(), coreDirectory(), providersDirectory(), logs() })
        makePrivateDirectory(directory);
}

std::pair<int, QByteArray> AppPaths::createTemporaryFile(const QString &path)
{
    // Created 0600 by mkostemp, so the content is never readable by others, not even between
    // the write and a later chmod; and close-on-exec, so a child started by another thread at
    // this moment never inherits a descriptor of a file that may hold secrets.
    QByteArray pattern = QFile::encodeName(path) + ".tmp-XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        throw posixError(QStringLiteral("无法创建临时文件"), path);
    return { fd, pattern };
}

void AppPaths::writeFileAtomically(const QString &path, const QByteArray &bytes)
{
    auto [fd, pattern] = createTemporaryFile(path);
    const QString temporary = QFile::decodeName(pattern);
    try {
        if (::fchmod(fd, 0600) != 0)
            throw posixError(QStringLiteral("无法设置文件权限"), temporary);
        writeAll(fd, bytes, temporary);
        if (::fsync(fd) != 0)
            throw posixError(QStringLiteral("无法写入文件"), temporary);
    } catch (...) {
        ::close(fd);
        ::unlink(pattern.constData());
        throw;
    }
    if (::close(fd) != 0) {
        int code = errno;
        ::unlink(pattern.constData());
        throw posixError(QStringLiteral("无法写入文件"), temporary, code);
    }
    if (::rename(pattern.constData(), QFile::encodeName(path).constData()) != 0) {
        int code = errno;
        ::unlink(pattern.constData());
        throw posixError(QStringLiteral("无法替换文件"), path, code);
    }
}

void AppPaths::write(const json::Json &value, const QString &path)
{
    prepare();
    std::string text;
    try {
        text = value.dump(2) + "\n";
    } catch (const json::Json::exception &e) {
        throw SystemError(QString::fromUtf8(e.what()));
    }
    writeFileAtomically(path, QByteArray::fromStdString(text));
    if (::chmod(QFile::encodeName(path).constData(), 0600) != 0)
        throw posixError(QStringLiteral("无法设置文件权限"), path);
}

std::optional<json::Json> AppPaths::read(const QString &path, qint64 maximumBytes)
{
    const QByteArray native = QFile::encodeName(path);
    // Non-blocking, so that opening a FIFO or a device chosen by mistake returns at once
    // instead of stalling the store's thread; only a regular file is read.
    int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        throw posixError(QStringLiteral("无法读取文件"), path);
    }
    QByteArray bytes;
    try {
        struct stat info { };
        if (::fstat(fd, &info) != 0)
            throw posixError(QStringLiteral("无法读取文件属性"), path);
        if (!S_ISREG(info.st_mode))
            throw SystemError(QStringLiteral("无法读取文件 %1: 不是普通文件").arg(path));
        if (info.st_size > maximumBytes)
            throw AppError(QString::fromUtf8(oversizeMessage));
        // Read at most one byte past the cap: a file that grew since the size check is
        // recognised without loading more of it.
        const qint64 limit = maximumBytes + 1;
        bytes.resize(static_cast<qsizetype>(std::min<qint64>(limit, std::max<qint64>(info.st_size, 0) + 1)));
        qsizetype total = 0;
        for (;;) {
            if (total == bytes.size()) {
                if (total >= limit)
                    break;
                bytes.resize(static_cast<qsizetype>(std::min<qint64>(limit, qint64(total) * 2 + 4096)));
            }
            ssize_t n = ::read(fd, bytes.data() + total, static_cast<size_t>(bytes.size() - total));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                throw posixError(QStringLiteral("无法读取文件"), path);
            }
            if (n == 0)
                break;
            total += n;
        }
        bytes.truncate(total);
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
    if (bytes.size() > maximumBytes)
        throw AppError(QString::fromUtf8(oversizeMessage));
    return json::parse(bytes);
}

void AppPaths::removeIfExists(const QString &path)
{
    if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT)
        throw posixError(QStringLiteral("无法删除文件"), path);
}

} // namespace veyra
