#include "FileDigest.h"

#include "Errors.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <openssl/evp.h>
#include <unistd.h>
#include <vector>

namespace veyra {

namespace {

// The platform's own text, as for every file-system failure.
SystemError fileError(const QString &path, int code)
{
    return SystemError(QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(code))));
}

struct FileCloser {
    int fd;
    ~FileCloser()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

struct DigestContextDeleter {
    void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};

} // namespace

QString sha256File(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw fileError(path, errno);
    FileCloser closer { fd };

    std::unique_ptr<EVP_MD_CTX, DigestContextDeleter> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        throw SystemError(QStringLiteral("SHA-256 unavailable"));
    std::vector<unsigned char> buffer(static_cast<size_t>(digestChunkSize));
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw fileError(path, errno);
        }
        if (got == 0)
            break;
        if (EVP_DigestUpdate(context.get(), buffer.data(), static_cast<size_t>(got)) != 1)
            throw SystemError(QStringLiteral("SHA-256 update failed"));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1)
        throw SystemError(QStringLiteral("SHA-256 final failed"));
    QString hex;
    hex.reserve(static_cast<qsizetype>(length) * 2);
    for (unsigned int i = 0; i < length; ++i)
        hex += QStringLiteral("%1").arg(digest[i], 2, 16, QLatin1Char('0'));
    return hex;
}

} // namespace veyra
