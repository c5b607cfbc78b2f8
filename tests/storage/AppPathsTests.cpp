#include "AppPaths.h"
#include "Errors.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <unistd.h>

using namespace veyra;
using veyra::test::modeOf;
using veyra::test::readBytes;
using veyra::test::writeBytes;

namespace {

using AppPathsTest = veyra::test::DataFolderTest;

struct Sample {
    QString name;
    static Sample fromJson(const json::Json &value) { return { json::requireString(value, "name") }; }
};

} // namespace

TEST_F(AppPathsTest, WriteTightensPermissionsOfExistingDirectoriesAndTheFile)
{
    ASSERT_TRUE(QDir().mkpath(AppPaths::providersDirectory()));
    ASSERT_EQ(::chmod(QFile::encodeName(root()).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(AppPaths::coreDirectory()).constData(), 0777), 0);
    writeBytes(AppPaths::settings(), "{}");
    ASSERT_EQ(::chmod(QFile::encodeName(AppPaths::settings()).constData(), 0644), 0);
    AppPaths::write(json::Json { { "b", 1 } }, AppPaths::settings());
    EXPECT_EQ(modeOf(AppPaths::settings()), 0600);
    for (const QString &dir : { root(), AppPaths::coreDirectory(), AppPaths::providersDirectory(), AppPaths::logs() })
        EXPECT_EQ(modeOf(dir), 0700) << dir.toStdString();
    // No temporary file left behind; one made for writing is owner-only and no child inherits it.
    EXPECT_EQ(QDir(root()).entryList({ "*.tmp-*" }, QDir::Files).size(), 0);
    auto [fd, name] = AppPaths::createTemporaryFile(AppPaths::settings());
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC) << "a child started now would inherit the descriptor";
    EXPECT_EQ(modeOf(QFile::decodeName(name)), 0600);
    ::close(fd);
    ::unlink(name.constData());
}

TEST_F(AppPathsTest, ReadHonoursTheCapExactlyAndRefusesMissingEmptyAndMistypedFiles)
{
    EXPECT_FALSE(AppPaths::read(AppPaths::settings(), AppPaths::settingsCap).has_value());
    AppPaths::prepare();
    for (const QByteArray &bad :
        { QByteArray(), QByteArray(R"({"name": 5})"), QByteArray(R"({"name": "ok"} trailing)") }) {
        writeBytes(AppPaths::settings(), bad);
        EXPECT_THROW(AppPaths::read<Sample>(AppPaths::settings(), AppPaths::settingsCap), SystemError)
            << bad.constData();
    }
    QByteArray exact = "{\"name\":\"\"}";
    exact.insert(9, QByteArray(AppPaths::trafficUsageCap - exact.size(), 'x'));
    writeBytes(AppPaths::trafficUsage(), exact);
    EXPECT_EQ(
        AppPaths::read<Sample>(AppPaths::trafficUsage(), AppPaths::trafficUsageCap).value_or(Sample {}).name.size(),
        exact.size() - 11);
    writeBytes(AppPaths::trafficUsage(), exact + " ");
    try {
        AppPaths::read(AppPaths::trafficUsage(), AppPaths::trafficUsageCap);
        ADD_FAILURE() << "an oversized file was read";
    } catch (const AppError &error) {
        EXPECT_EQ(error.description(), QString::fromUtf8("本地数据文件超过安全大小限制。"));
    }
    EXPECT_EQ(readBytes(AppPaths::trafficUsage()).size(), exact.size() + 1) << "the refused file was touched";
}
