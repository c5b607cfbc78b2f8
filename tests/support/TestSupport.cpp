#include "TestSupport.h"

#include "Errors.h"

#include <QFile>

namespace veyra::test {

int modeOf(const QString &path)
{
    struct stat info { };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::optional<QString> failureOf(QCoro::Task<void> &&task)
{
    try {
        await(std::move(task));
        return std::nullopt;
    } catch (const std::exception &error) {
        return describe(error);
    }
}

} // namespace veyra::test
