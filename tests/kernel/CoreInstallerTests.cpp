#include "AppPaths.h"
#include "FileDigest.h"
#include "KernelTestSupport.h"
#include "MihomoManager.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QTimer>

#include <cerrno>
#include <cstring>

namespace veyra {
namespace {

using namespace veyra::test;

const QString installedLine = QStringLiteral("内置 Mihomo 核心已通过 SHA\u2011256 校验并安装。");

class CoreInstallation : public DataFolderTest {
protected:
    void SetUp() override
    {
        DataFolderTest::SetUp();
        resources = m_dir.path() + QStringLiteral("/Resources");
        ship(3 * 1024 * 1024 + 17);
    }

    // Ships a kernel of about `size` bytes with its checksum.
    void ship(qsizetype size)
    {
        kernelBytes = QByteArray("#!/bin/sh\necho kernel\n") + QByteArray(size, 'k');
        installScriptResource(resources, kernelBytes);
        digest = sha256File(resources + QStringLiteral("/mihomo"));
    }
    void writeChecksum(const QByteArray &content, const QString &directory = {})
    {
        writeBytes((directory.isEmpty() ? resources : directory) + QStringLiteral("/mihomo.sha256"), content);
    }
    QString failure(const QStringList &directories = {})
    {
        return errorText(
            MihomoManager({}, directories.isEmpty() ? QStringList { resources } : directories).ensureCore());
    }
    void install() { ASSERT_EQ(failure(), QStringLiteral("<no error>")); }

    QString resources;
    QByteArray kernelBytes;
    QString digest;
};

// A verified executable copy is installed and logged once; a correct copy is then left as it is,
// without a word, and a truncated or tampered one replaced, as is a staging file left behind.
TEST_F(CoreInstallation, InstallsAVerifiedCopyAndRepairsOnlyWhatIsWrong)
{
    AppPaths::prepare();
    const QByteArray core = QFile::encodeName(AppPaths::core());
    const QString staging = AppPaths::core() + QStringLiteral(".installing");
    writeBytes(staging, "half a kernel from an interrupted run");
    ::chmod(QFile::encodeName(staging).constData(), 0444);
    install();
    EXPECT_EQ(readBytes(AppPaths::core()), kernelBytes);
    EXPECT_EQ(modeOf(AppPaths::core()), 0755);
    EXPECT_FALSE(QFileInfo::exists(staging));
    EXPECT_EQ(diagnosticLog().count(installedLine), 1);

    ::chmod(core.constData(), 0700);
    struct stat before {
    }, after {};
    ::stat(core.constData(), &before);
    install();
    ::stat(core.constData(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(modeOf(AppPaths::core()), 0700) << "a matching copy must not even be chmod-ed";
    EXPECT_EQ(diagnosticLog().count(installedLine), 1);

    QByteArray tampered = kernelBytes;
    tampered[10] = 'X';
    for (const QByteArray &wrong : { kernelBytes.left(1000), tampered }) {
        writeBytes(AppPaths::core(), wrong);
        install();
        EXPECT_EQ(readBytes(AppPaths::core()), kernelBytes);
        EXPECT_EQ(modeOf(AppPaths::core()), 0755);
    }
    EXPECT_EQ(diagnosticLog().count(installedLine), 3);
}

// Big enough for the copy to be watched while it happens. Any other name would survive a crash
// midway, kernel-sized, where no clean-up looks for it.
TEST_F(CoreInstallation, CopiesUnderTheStagingNameOnly)
{
    ship(48 * 1024 * 1024);
    AppPaths::prepare();
    QSet<QString> seen;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        for (const QString &name : QDir(AppPaths::coreDirectory()).entryList(QDir::Files | QDir::Hidden))
            seen << name;
    });
    watch.start(0);
    install();
    watch.stop();
    EXPECT_TRUE(seen.remove(QStringLiteral("mihomo.installing"))) << "the copy was never seen";
    seen.remove(QStringLiteral("mihomo"));
    EXPECT_TRUE(seen.isEmpty()) << QStringList(seen.begin(), seen.end()).join(u' ').toStdString();
    EXPECT_EQ(readBytes(AppPaths::core()), kernelBytes);
}

// A malformed checksum file, a shipped kernel that does not match it or a missing resource is
// refused, and the verified older installation stays. Each resource is looked up in the second
// directory on its own.
TEST_F(CoreInstallation, RefusesWhatDoesNotVerify)
{
    for (const QByteArray &content : { digest.left(63).toUtf8(), digest.toUtf8() + "0", "g" + digest.mid(1).toUtf8(),
             QByteArray(), QByteArray("  \n\t") }) {
        writeChecksum(content);
        EXPECT_EQ(failure(), QStringLiteral("Mihomo 校验文件格式错误。")) << content.constData();
    }
    EXPECT_FALSE(QFileInfo::exists(AppPaths::core()));
    writeChecksum("\n  " + digest.toUpper().toUtf8() + "\tmihomo extra"); // only the first token, in any case
    install();
    writeBytes(resources + QStringLiteral("/mihomo"), kernelBytes + "appended");
    EXPECT_EQ(failure(), QStringLiteral("安装包中的 Mihomo 核心未通过 SHA\u2011256 校验，请重新下载。"));
    EXPECT_EQ(readBytes(AppPaths::core()), kernelBytes) << "the verified older installation stays";
    QFile::remove(resources + QStringLiteral("/mihomo.sha256"));
    EXPECT_EQ(failure(), QStringLiteral("应用资源中缺少 Mihomo 核心或校验文件。"));

    const QString second = m_dir.path() + QStringLiteral("/Second");
    QDir().mkpath(second);
    writeChecksum(digest.toUtf8(), second);
    QFile::remove(AppPaths::core());
    writeBytes(resources + QStringLiteral("/mihomo"), kernelBytes);
    EXPECT_EQ(failure({ resources, second }), QStringLiteral("<no error>"));
    EXPECT_EQ(readBytes(AppPaths::core()), kernelBytes);
}

TEST(FileDigests, MatchTheKnownValueAndAMissingFileFailsWithThePlatformText)
{
    QTemporaryDir dir;
    writeBytes(dir.filePath(QStringLiteral("abc")), "abc");
    EXPECT_EQ(sha256File(dir.filePath(QStringLiteral("abc"))),
        QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    const QString missing = dir.filePath(QStringLiteral("missing"));
    try {
        sha256File(missing);
        ADD_FAILURE() << "a missing file was hashed";
    } catch (const SystemError &error) {
        EXPECT_EQ(error.description(), missing + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(ENOENT)));
    }
}

} // namespace
} // namespace veyra
