#include "AppPaths.h"
#include "Errors.h"
#include "SettingsStore.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <sys/stat.h>

using namespace veyra;
using veyra::test::await;
using veyra::test::readBytes;
using veyra::test::writeBytes;

namespace {

class SettingsStoreTest : public veyra::test::DataFolderTest {
protected:
    SettingsStore store { [] { return QDateTime::fromSecsSinceEpoch(1765000000, Qt::UTC); } };
    QString candidate() const { return m_dir.path() + "/import.json"; }
};

} // namespace

// What a settings file's keys mean is the settings fuzz target's; these are the store's rules.
TEST_F(SettingsStoreTest, AMissingFileGivesDefaultsAndDamagedFilesAreMovedAsideAndLogged)
{
    EXPECT_EQ(await(store.loadSettings()), AppSettings {});
    EXPECT_FALSE(QFile::exists(AppPaths::settings()));
    AppPaths::prepare();
    const QString quarantined = root() + "/settings.broken-1765000000.json";
    for (const QByteArray &bytes : { QByteArray(R"({"proxyMode": "turbo"})"), QByteArray("not json"),
             QByteArray(AppPaths::settingsCap + 1, ' ') }) {
        SCOPED_TRACE(bytes.left(20).toStdString());
        writeBytes(AppPaths::settings(), bytes);
        EXPECT_EQ(await(store.loadSettings()), AppSettings {});
        EXPECT_FALSE(QFile::exists(AppPaths::settings()));
        EXPECT_EQ(readBytes(quarantined), bytes);
        QFile::remove(quarantined);
    }
    const QStringList logs = QDir(AppPaths::logs()).entryList({ "veyra-*.log" }, QDir::Files);
    ASSERT_EQ(logs.size(), 1);
    const QString log = QString::fromUtf8(readBytes(AppPaths::logs() + "/" + logs[0]));
    EXPECT_EQ(log.count(QString::fromUtf8("设置文件损坏，已恢复默认值：")), 3);
    EXPECT_TRUE(log.trimmed().endsWith(QString::fromUtf8("本地数据文件超过安全大小限制。")));

    writeBytes(AppPaths::settings(), R"({"mixedPort": 8000})");
    EXPECT_EQ(await(store.loadSettings()).mixedPort, 8000);
    EXPECT_TRUE(QFile::exists(AppPaths::settings()));
}

TEST_F(SettingsStoreTest, ImportAndSaveValidateBeforeWriting)
{
    AppSettings mine;
    mine.selectedNode = "keep me";
    await(store.saveSettings(mine));
    const QByteArray before = readBytes(AppPaths::settings());
    for (const QByteArray &refused : { QByteArray(R"({"mixedPort":7890,"socksPort":7890})"),
             QByteArray(AppPaths::settingsCap + 1, ' '), QByteArray(R"({"proxyMode": 3})") }) {
        writeBytes(candidate(), refused);
        EXPECT_ANY_THROW(await(store.importSettings(candidate()))) << refused.left(40).constData();
    }
    AppSettings bad;
    bad.uiScalePercent = 200;
    EXPECT_THROW(await(store.saveSettings(bad)), AppError);
    EXPECT_EQ(readBytes(AppPaths::settings()), before);

    writeBytes(candidate(), R"({"mixedPort":8000,"proxyMode":"global","selectedNode":"东京","smartSelection":false})");
    const AppSettings imported = await(store.importSettings(candidate()));
    EXPECT_EQ(imported.proxyMode, ConnectionMode::global);
    EXPECT_EQ(await(store.loadSettings()), imported);
    // A file that is not there means the defaults.
    EXPECT_EQ(await(store.importSettings(m_dir.path() + "/nowhere.json")), AppSettings {});
    EXPECT_EQ(await(store.loadSettings()), AppSettings {});

    // Nobody ever writes into this FIFO: opening it for reading would wait forever, which fails the
    // wait instead of giving the refusal expected.
    const QString fifo = m_dir.path() + "/settings-pipe.json";
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString &notAFile : { fifo, m_dir.path(), QStringLiteral("/dev/zero") })
        EXPECT_THROW(await(store.importSettings(notAFile), std::chrono::seconds(5)), SystemError)
            << notAFile.toStdString();
    EXPECT_EQ(await(store.loadSettings()), AppSettings {});
}

TEST_F(SettingsStoreTest, PendingOrderIsWrittenAndRemoved)
{
    await(store.savePendingOrder(
        PendingOrderRecord { "20261205-1", QDateTime::fromSecsSinceEpoch(1765000000, Qt::UTC) }));
    EXPECT_TRUE(readBytes(AppPaths::pendingOrder()).contains(R"("2025-12-06T05:46:40Z")"));
    await(store.savePendingOrder(std::nullopt));
    EXPECT_FALSE(QFile::exists(AppPaths::pendingOrder()));
    EXPECT_NO_THROW(await(store.savePendingOrder(std::nullopt)));
}
