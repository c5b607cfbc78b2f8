#include "AppPaths.h"
#include "Errors.h"
#include "FileDigest.h"
#include "KernelTestSupport.h"
#include "MihomoManager.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

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
        QDir().mkpath(resources);
        kernelBytes = QByteArray("#!/bin/sh\necho kernel\n") + QByteArray(3 * 1024 * 1024 + 17, 'k');
        writeBytes(resources + QStringLiteral("/mihomo"), kernelBytes);
        digest = sha256File(resources + QStringLiteral("/mihomo"));
        writeChecksum(digest.toUtf8() + "  mihomo\n");
    }

    void writeChecksum(const QByteArray &content) { writeBytes(resources + QStringLiteral("/mihomo.sha256"), content); }

    QString failureOf() { return errorText(MihomoManager({}, { resources }).ensureCore()); }

    void install() { await(MihomoManager({}, { resources }).ensureCore()); }

    QString resources;
    QByteArray kernelBytes;
    QString digest;
};

// A verified executable copy is installed and logged once; a correct copy is then left as it is,
// without a word, and a truncated or tampered one replaced, as is a staging file left behind.
TEST_F(CoreInstallation, InstallsAVerifiedCopyAndRepairsOnlyWhatIsWrong)
{
    AppPaths::prepare();
    const QString staging = AppPaths::core() + QStringLiteral(".installing");
    writeBytes(staging, "half a kernel from an interrupted run");
    ::chmod(QFile::encodeName(staging).constData(), 0444);
    install();
    EXPECT_EQ(readBytes(AppPaths::core()), kernelBytes);
    EXPECT_EQ(modeOf(AppPaths::core()), 0755);
    EXPECT_FALSE(QFileInfo::exists(staging));
    EXPECT_EQ(diagnosticLog().count(installedLine), 1);

    ::chmod(QFile::encodeName(AppPaths::core()).constData(), 0700);
    struct stat before { };
    ::stat(QFile::encodeName(AppPaths::core()).constData(), &before);
    install();
    struct stat after { };
    ::stat(QFile::encodeName(AppPaths::core()).constData(), &after);
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

TEST_F(CoreInstallation, CopiesUnderTheStagingNameOnly)
{
    // Big enough for the copy to be watched while it happens. Any other name would survive a
    // crash midway, kernel-sized, where no clean-up looks for it.
    kernelBytes = QByteArray("#!/bin/sh\necho kernel\n") + QByteArray(48 * 1024 * 1024, 'k');
    writeBytes(resources + QStringLiteral("/mihomo"), kernelBytes);
    writeChecksum(sha256File(resources + QStringLiteral("/mihomo")).toUtf8() + "  mihomo\n");
    AppPaths::prepare();
    QSet<QString> seen;
    QTimer watch;
    watch.setInterval(0);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const QStringList names = QDir(AppPaths::coreDirectory()).entryList(QDir::Files | QDir::Hidden);
        seen.unite(QSet<QString>(names.begin(), names.end()));
    });
    watch.start();
    install();
    watch.stop();
    EXPECT_TRUE(seen.contains(QStringLiteral("mihomo.installing"))) << "the copy was never seen";
    seen.remove(QStringLiteral("mihomo.installing"));
    seen.remove(QStringLiteral("mihomo"));
    EXPECT_TRUE(seen.isEmpty()) << QStringList(seen.begin(), seen.end()).join(u' ').toStdString();
    EXPECT_EQ(readBytes(AppPaths::core()), kernelBytes);
}

// A malformed checksum file, a shipped kernel that does not match it or a missing resource is
// refused, and the verified older installation stays.
TEST_F(CoreInstallation, RefusesWhatDoesNotVerify)
{
    for (const QByteArray &content : { digest.left(63).toUtf8(), digest.toUtf8() + "0", "g" + digest.mid(1).toUtf8(),
             QByteArray(), QByteArray("  \n\t") }) {
        writeChecksum(content);
        EXPECT_EQ(failureOf(), QStringLiteral("Mihomo 校验文件格式错误。")) << content.constData();
    }
    EXPECT_FALSE(QFileInfo::exists(AppPaths::core()));
    // Only the first token counts, in any case.
    writeChecksum("\n  " + digest.toUpper().toUtf8() + "\tmihomo extra");
    install();
    writeBytes(resources + QStringLiteral("/mihomo"), kernelBytes + "appended");
    EXPECT_EQ(failureOf(), QStringLiteral("安装包中的 Mihomo 核心未通过 SHA\u2011256 校验，请重新下载。"));
    EXPECT_EQ(readBytes(AppPaths::core()), kernelBytes) << "the verified older installation stays";
    QFile::remove(resources + QStringLiteral("/mihomo.sha256"));
    EXPECT_EQ(failureOf(), QStringLiteral("应用资源中缺少 Mihomo 核心或校验文件。"));
}

// Each resource is looked up in the second directory on its own.
TEST_F(CoreInstallation, LooksUpEachResourceInTheSecondDirectoryOnItsOwn)
{
    const QString second = m_dir.path() + QStringLiteral("/Second");
    QDir().mkpath(second);
    QFile::rename(resources + QStringLiteral("/mihomo.sha256"), second + QStringLiteral("/mihomo.sha256"));
    await(MihomoManager({}, { resources, second }).ensureCore());
    EXPECT_EQ(readBytes(AppPaths::core()), kernelBytes);
}

TEST(FileDigests, MatchTheKnownValue)
{
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/abc");
    writeBytes(path, "abc");
    EXPECT_EQ(sha256File(path), QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    const QString missing = dir.path() + QStringLiteral("/missing");
    try {
        sha256File(missing);
        ADD_FAILURE() << "a missing file was hashed";
    } catch (const SystemError &error) {
        // The platform's own text, with nothing of ours in front of it.
        EXPECT_EQ(error.description(), missing + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(ENOENT)));
    }
}

} // namespace
} // namespace veyra
