#include "AppPaths.h"
#include "Logger.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <syslog.h>
#include <thread>
#include <utime.h>

using namespace veyra;
using veyra::test::modeOf;
using veyra::test::readBytes;
using veyra::test::writeBytes;

namespace {

const QDateTime now = QDateTime(QDate(2026, 12, 5), QTime(9, 30), Qt::UTC).toLocalTime();

class LoggerTest : public veyra::test::DataFolderTest {
protected:
    void SetUp() override
    {
        DataFolderTest::SetUp();
        Logger::shared().setClock([] { return now; });
    }
    void TearDown() override
    {
        Logger::shared().setClock([] { return QDateTime::currentDateTime(); });
        Logger::shared().setSystemLogSink({});
        DataFolderTest::TearDown();
    }
    QString todayFile() const { return AppPaths::logs() + "/veyra-" + now.toString("yyyyMMdd") + ".log"; }
};

} // namespace

TEST(LoggerRedaction, MasksEachKindOfSecretAndKeepsTheSeparators)
{
    // Unicode blanks separate a key from its secret as well as ASCII ones do.
    const std::pair<const char *, const char *> cases[] = {
        { "Authorization: Bearer abc.def-123, next", "Authorization: Bearer ***, next" },
        { "authorization=bearer   XYZ", "authorization=bearer   ***" },
        { "TOKEN=s3cr3t;rest", "TOKEN=***;rest" },
        { "access-token: abc def", "access-token: *** def" },
        { "Password = hunter2", "Password = ***" },
        { "subscriptionUrl=https://line.example/s?k=1 ok", "subscriptionUrl=*** ok" },
        { "Subscription: https://line.example/x", "Subscription: ***" },
        { "codeURL=weixin://wxpay/bizpayurl?pr=1,", "codeURL=***," },
        { "nothing secret here", "nothing secret here" },
        { "password\u3000hunter2 ok", "password\u3000*** ok" },
        { "token:\u00a0abc\u00a0next", "token:\u00a0***\u00a0next" },
        { "Authorization: Bearer\u2003xyz", "Authorization: Bearer\u2003***" },
    };
    for (const auto &[line, redacted] : cases)
        EXPECT_EQ(Logger::redact(QString::fromUtf8(line)), QString::fromUtf8(redacted)) << line;
}

TEST_F(LoggerTest, LinesGoToAPrivateFileAndAFailedAppendOnlyReachesTheSystemLog)
{
    QStringList reported;
    Logger::shared().setSystemLogSink([&](int priority, const QString &text) {
        if (priority == LOG_ERR)
            reported << text;
    });
    Logger::shared().log("first token=abc");
    EXPECT_EQ(modeOf(todayFile()), 0600);
    Logger::shared().log("second");
    EXPECT_EQ(readBytes(todayFile()), "2026-12-05T09:30:00Z first token=***\n2026-12-05T09:30:00Z second\n");
    EXPECT_TRUE(reported.isEmpty());

    // Today's file now behaves like a full disk: every append fails with ENOSPC.
    QFile::remove(todayFile());
    ASSERT_TRUE(QFile::link("/dev/full", todayFile()));
    Logger::shared().log("third");
    Logger::shared().log("fourth");
    EXPECT_EQ(reported, QStringList({ "log write failed", "log write failed" }));

    // A plain file where the logs folder should be makes every write fail.
    QDir(AppPaths::logs()).removeRecursively();
    writeBytes(AppPaths::logs(), "not a folder");
    EXPECT_NO_THROW(Logger::shared().log("lost"));
    EXPECT_EQ(readBytes(AppPaths::logs()), "not a folder");
}

TEST_F(LoggerTest, RotationKeepsTheFourteenNewestAndLeavesOtherFilesAlone)
{
    AppPaths::prepare();
    const auto file = [](const QString &name, time_t modified) {
        const QString path = AppPaths::logs() + "/" + name;
        writeBytes(path, "x\n");
        const utimbuf times { modified, modified };
        EXPECT_EQ(::utime(QFile::encodeName(path).constData(), &times), 0);
        return path;
    };
    for (int i = 0; i < 20; ++i)
        file(QString("veyra-old-%1.log").arg(i, 2, 10, QChar('0')), 1'700'000'000 + i * 60);
    // Older, but somebody else's: only the exact prefix counts.
    const QStringList others { file("mihomo-current.log", 1'699'000'000), file("VEYRA-notes.log", 1'699'000'000),
        file(".veyra-hidden.log", 1'699'000'000) };

    Logger::shared().log("rotate");
    const QStringList remaining = QDir(AppPaths::logs()).entryList({ "veyra-old-*" }, QDir::Files, QDir::Name);
    ASSERT_EQ(remaining.size(), 14);
    EXPECT_EQ(remaining.first(), "veyra-old-06.log");
    for (const QString &other : others)
        EXPECT_TRUE(QFile::exists(other)) << other.toStdString();
    EXPECT_TRUE(QFile::exists(todayFile()));
}

TEST_F(LoggerTest, ConcurrentWritersProduceWholeLines)
{
    const QString a(300, 'a'), b(300, 'b');
    const auto writer = [](const QString &line) {
        for (int i = 0; i < 200; ++i)
            Logger::shared().log(line);
    };
    std::thread first(writer, a), second(writer, b);
    first.join();
    second.join();
    QList<QByteArray> lines = readBytes(todayFile()).split('\n');
    lines.removeLast();
    ASSERT_EQ(lines.size(), 400);
    for (const QByteArray &line : lines) {
        const QByteArray text = line.mid(line.indexOf(' ') + 1);
        EXPECT_TRUE(text == a.toUtf8() || text == b.toUtf8()) << line.left(40).toStdString();
    }
}
