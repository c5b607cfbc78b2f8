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
    QString quarantined() const { return root() + "/settings.broken-1765000000.json"; }

    QString lastLogLine() const
    {
        const QStringList files = QDir(AppPaths::logs()).entryList({ "veyra-*.log" }, QDir::Files, QDir::Time);
        if (files.isEmpty())
            return {};
        QList<QByteArray> lines = readBytes(AppPaths::logs() + "/" + files.first()).trimmed().split('\n');
        return QString::fromUtf8(lines.last());
    }
};

} // namespace

// What a settings file's keys mean is the settings fuzz target's; these are the store's rules.
TEST_F(SettingsStoreTest, AMissingFileGivesDefaultsAndDamagedFilesAreMovedAsideAndLogged)
{
    EXPECT_EQ(await(store.loadSettings()), AppSettings {});
    EXPECT_FALSE(QFile::exists(AppPaths::settings()));

    AppPaths::prepare();
    const std::pair<const char *, QByteArray> damaged[] = {
        { "unknown mode", R"({"proxyMode": "turbo"})" },
        { "not json", "not json" },
        { "over the cap", QByteArray(AppPaths::settingsCap + 1, ' ') },
    };
    for (const auto &[name, bytes] : damaged) {
        SCOPED_TRACE(name);
        writeBytes(AppPaths::settings(), bytes);
        EXPECT_EQ(await(store.loadSettings()), AppSettings {});
        EXPECT_FALSE(QFile::exists(AppPaths::settings()));
        EXPECT_EQ(readBytes(quarantined()), bytes);
        EXPECT_TRUE(lastLogLine().contains(QString::fromUtf8("设置文件损坏，已恢复默认值：")));
        QFile::remove(quarantined());
    }
    EXPECT_TRUE(lastLogLine().endsWith(QString::fromUtf8("本地数据文件超过安全大小限制。")));

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

    const QString candidate = m_dir.path() + "/import.json";
    writeBytes(candidate, R"({"mixedPort":7890,"socksPort":7890,"controllerPort":9090})");
    try {
        await(store.importSettings(candidate));
        FAIL() << "duplicate ports were imported";
    } catch (const AppError &error) {
        EXPECT_EQ(error.description(), QString::fromUtf8("三个网络端口不能重复。"));
    }
    writeBytes(candidate, QByteArray(AppPaths::settingsCap + 1, ' '));
    EXPECT_THROW(await(store.importSettings(candidate)), AppError);
    writeBytes(candidate, R"({"proxyMode": 3})");
    EXPECT_THROW(await(store.importSettings(candidate)), SystemError);
    EXPECT_EQ(readBytes(AppPaths::settings()), before);

    AppSettings bad;
    bad.uiScalePercent = 200;
    EXPECT_THROW(await(store.saveSettings(bad)), AppError);
    EXPECT_EQ(readBytes(AppPaths::settings()), before);

    writeBytes(candidate, R"({"mixedPort":8000,"proxyMode":"global","selectedNode":"东京","smartSelection":false})");
    const AppSettings imported = await(store.importSettings(candidate));
    EXPECT_EQ(imported.proxyMode, ConnectionMode::global);
    EXPECT_EQ(await(store.loadSettings()), imported);
    // A file that is not there means the defaults.
    EXPECT_EQ(await(store.importSettings(m_dir.path() + "/nowhere.json")), AppSettings {});
    EXPECT_EQ(await(store.loadSettings()), AppSettings {});
}

TEST_F(SettingsStoreTest, ImportingSomethingThatIsNotARegularFileFailsAtOnce)
{
    await(store.saveSettings(AppSettings {}));
    const QByteArray before = readBytes(AppPaths::settings());
    // Nobody ever writes into this FIFO: opening it for reading would wait forever.
    const QString fifo = m_dir.path() + "/settings-pipe.json";
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // A read that never ends fails the wait, which is not the refusal expected.
    for (const QString &candidate : { fifo, m_dir.path(), QStringLiteral("/dev/zero") })
        EXPECT_THROW(await(store.importSettings(candidate), std::chrono::seconds(5)), SystemError)
            << candidate.toStdString();
    EXPECT_EQ(readBytes(AppPaths::settings()), before);
}

TEST_F(SettingsStoreTest, PendingOrderIsWrittenAndRemoved)
{
    const PendingOrderRecord record { "20261205-1", QDateTime::fromSecsSinceEpoch(1765000000, Qt::UTC) };
    await(store.savePendingOrder(record));
    EXPECT_EQ(veyra::test::modeOf(AppPaths::pendingOrder()), 0600);
    EXPECT_EQ(AppPaths::read<PendingOrderRecord>(AppPaths::pendingOrder(), AppPaths::pendingOrderCap), record);
    EXPECT_TRUE(readBytes(AppPaths::pendingOrder()).contains(R"("2025-12-06T05:46:40Z")"));
    await(store.savePendingOrder(std::nullopt));
    EXPECT_FALSE(QFile::exists(AppPaths::pendingOrder()));
    EXPECT_NO_THROW(await(store.savePendingOrder(std::nullopt)));
}
