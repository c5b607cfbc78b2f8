#include "TestSupport.h"

#include "AppPaths.h"
#include "Errors.h"

#include <QFile>

namespace veyra::test {

void DataFolderTest::SetUp()
{
    ASSERT_TRUE(m_dir.isValid());
    AppPaths::setRootOverride(root());
}

void DataFolderTest::TearDown()
{
    AppPaths::setRootOverride(QString());
}

int modeOf(const QString &path)
{
    struct stat info { };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return static_cast<int>(info.st_mode & 07777);
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
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
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
