#include "CoreInstaller.h"

#include "AppPaths.h"
#include "Errors.h"
#include "FileDigest.h"
#include "Logger.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veyra {

namespace {

// File-system failures carry the platform's own text, the way every other one does; no
// sentence of ours is put in front of it.
SystemError fileError(const QString &path, int code)
{
    return SystemError(QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(code))));
}

void makeExecutable(const QString &path)
{
    if (::chmod(QFile::encodeName(path).constData(), 0755) != 0)
        throw fileError(path, errno);
}

QByteArray readChecksumFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw SystemError(QStringLiteral("%1: %2").arg(path, file.errorString()));
    // A checksum file is one short line; anything far bigger is not one, and reading it
    // whole would only waste memory.
    const QByteArray bytes = file.read(64 * 1024);
    if (file.error() != QFile::NoError)
        throw SystemError(QStringLiteral("%1: %2").arg(path, file.errorString()));
    return bytes;
}

// Copies straight into the staging name: whatever a crash midway leaves is that file, which
// the next installation removes first (a library copy would leave a temporary of its own).
void copyInto(const QString &source, const QString &target)
{
    const int in = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        throw fileError(source, errno);
    const int out = ::open(QFile::encodeName(target).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0700);
    if (out < 0) {
        const int code = errno;
        ::close(in);
        throw fileError(target, code);
    }
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    int failure = 0;
    QString failedPath;
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), static_cast<size_t>(buffer.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            failure = errno;
            failedPath = source;
            break;
        }
        if (got == 0)
            break;
        for (ssize_t done = 0; done < got && !failure;) {
            const ssize_t wrote = ::write(out, buffer.constData() + done, static_cast<size_t>(got - done));
            if (wrote < 0 && errno == EINTR)
                continue;
            if (wrote < 0) {
                failure = errno;
                failedPath = target;
            } else {
                done += wrote;
            }
        }
        if (failure)
            break;
    }
    ::close(in);
    if (::close(out) != 0 && !failure) {
        failure = errno;
        failedPath = target;
    }
    if (failure) {
        QFile::remove(target);
        throw fileError(failedPath, failure);
    }
}

} // namespace

std::optional<QString> CoreInstaller::expectedDigest(const QByteArray &checksumFile)
{
    const QString text = QString::fromUtf8(checksumFile);
    qsizetype start = 0;
    while (start < text.size() && text.at(start).isSpace())
        ++start;
    qsizetype end = start;
    while (end < text.size() && !text.at(end).isSpace())
        ++end;
    const QString token = text.mid(start, end - start).toLower();
    if (token.size() != 64)
        return std::nullopt;
    for (QChar c : token)
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))))
            return std::nullopt;
    return token;
}

std::optional<QString> CoreInstaller::locate(const QStringList &resourceDirectories, const QString &name)
{
    for (const QString &directory : resourceDirectories) {
        const QFileInfo candidate(directory + QLatin1Char('/') + name);
        if (candidate.isFile())
            return candidate.filePath();
    }
    return std::nullopt;
}

void CoreInstaller::ensure(const QStringList &resourceDirectories)
{
    AppPaths::prepare();

    const std::optional<QString> shipped = locate(resourceDirectories, QStringLiteral("mihomo"));
    const std::optional<QString> checksum = locate(resourceDirectories, QStringLiteral("mihomo.sha256"));
    if (!shipped || !checksum)
        throw AppError(QStringLiteral("应用资源中缺少 Mihomo 核心或校验文件。"));

    const std::optional<QString> expected = expectedDigest(readChecksumFile(*checksum));
    if (!expected)
        throw AppError(QStringLiteral("Mihomo 校验文件格式错误。"));

    if (sha256File(*shipped) != *expected)
        throw AppError(QStringLiteral("安装包中的 Mihomo 核心未通过 SHA\u2011256 校验，请重新下载。"));

    const QString installed = AppPaths::core();
    if (QFileInfo::exists(installed)) {
        try {
            if (sha256File(installed) == *expected)
                return;
        } catch (const std::exception &) {
            // An unreadable installed copy is simply replaced below.
        }
    }

    const QString staging = installed + QStringLiteral(".installing");
    QFile::remove(staging);
    copyInto(*shipped, staging);
    makeExecutable(staging);
    if (sha256File(staging) != *expected) {
        QFile::remove(staging);
        throw AppError(QStringLiteral("复制后的 Mihomo 核心校验失败。"));
    }
    // rename(2) replaces an existing file in one step and simply moves when there is none.
    if (::rename(QFile::encodeName(staging).constData(), QFile::encodeName(installed).constData()) != 0)
        throw fileError(installed, errno);
    makeExecutable(installed);
    Logger::shared().log(QStringLiteral("内置 Mihomo 核心已通过 SHA\u2011256 校验并安装。"));
}

} // namespace veyra
