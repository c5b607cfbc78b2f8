#include "DesktopProxyBackend.h"
#include "KioslavercProxyStore.h"

#include "AppPaths.h"
#include "DesktopSession.h"
#include "Errors.h"
#include "Json.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QFile>

#include <cstdlib>

using namespace veyra;
using test::DesktopSession;
using test::failureOf;

namespace {

QCoro::Task<> lineDown()
{
    throw AppError(QStringLiteral("line down"));
    co_return;
}

// Counts KIO's request to running KDE applications to read their proxy settings
// again, on a connection of its own, as a KDE application has.
class ReparseListener : public QObject {
    Q_OBJECT
public:
    ReparseListener()
    {
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("kde-application"))
            .connect(QString(), QStringLiteral("/KIO/Scheduler"), QStringLiteral("org.kde.KIO.Scheduler"),
                QStringLiteral("reparseSlaveConfiguration"), this, SLOT(heard(QString)));
    }
    // A signal travels through the bus, so it may arrive after the call that sent
    // it returned.
    bool waitFor(int wanted)
    {
        QElapsedTimer clock;
        clock.start();
        while (count < wanted && clock.elapsed() < 10'000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        return count >= wanted;
    }
    int count = 0;

public slots:
    void heard(const QString &) { ++count; }
};

// Faults between the backend and the real stores, shared by every store of one
// backend: after `writesBeforeCrash` entries the process "dies" (that write and
// every later one, the roll-back's included, throw), and entries for
// `ignoredKey` are dropped while the write still succeeds.
struct StoreFaults {
    int writesBeforeCrash = -1;
    QString ignoredKey;
};

class FaultyProxyStore : public ProxySettingsStore {
public:
    FaultyProxyStore(std::unique_ptr<ProxySettingsStore> inner, std::shared_ptr<StoreFaults> faults)
        : m_inner(std::move(inner))
        , m_faults(std::move(faults))
    {
    }
    QString name() const override { return m_inner->name(); }
    bool present() override { return m_inner->present(); }
    std::vector<Entry> proxyEntries(qint64 port) const override { return m_inner->proxyEntries(port); }
    Value read(const QString &key) override { return m_inner->read(key); }
    void write(const std::vector<Entry> &entries) override
    {
        std::vector<Entry> passed;
        auto entry = entries.begin();
        for (; entry != entries.end() && m_faults->writesBeforeCrash != 0; ++entry, --m_faults->writesBeforeCrash)
            if (entry->key != m_faults->ignoredKey)
                passed.push_back(*entry);
        if (!passed.empty())
            m_inner->write(passed);
        if (entry != entries.end())
            throw std::runtime_error("the application ended here");
    }
    static DesktopProxyBackend::StoreFactory around(std::shared_ptr<StoreFaults> faults)
    {
        return [faults] {
            DesktopProxyBackend::Stores wrapped;
            for (auto &store : DesktopProxyBackend::desktopStores())
                wrapped.push_back(std::make_unique<FaultyProxyStore>(std::move(store), faults));
            return wrapped;
        };
    }

private:
    std::unique_ptr<ProxySettingsStore> m_inner;
    std::shared_ptr<StoreFaults> m_faults;
};

// Both stores as the desktop has them: the whole settings database and
// kioslaverc's bytes.
struct DesktopState {
    QByteArray dconf;
    std::optional<QByteArray> kioslaverc;
    bool operator==(const DesktopState &) const = default;
};

struct Start {
    const char *name;
    const char *dconf;
    const char *kioslaverc; // nullptr: no file
    bool kdeSession;
};

const Start corporate { "ManualCorporateProxy",
    "[system/proxy]\nmode='manual'\nignore-hosts=['localhost', '*.corp.example']\n\n"
    "[system/proxy/http]\nhost='proxy.corp.example'\nport=3128\n\n"
    "[system/proxy/https]\nhost='proxy.corp.example'\nport=3128\n",
    "[Proxy Settings]\nNoProxyFor=.corp.example\nProxyType=1\nhttpProxy=http://proxy.corp.example 3128\n"
    "httpsProxy=http://proxy.corp.example 3128\n",
    false };

const Start starts[] = {
    { "NothingSet", "", nullptr, true },
    corporate,
    { "AutomaticWithAPacAddress", "[system/proxy]\nmode='auto'\nautoconfig-url='http://wpad.corp.example/proxy.pac'\n",
        "[Proxy Settings]\nProxy Config Script=http://wpad.corp.example/proxy.pac\nProxyType=2\n", false },
    { "OnlySomeKeysSet", "[system/proxy/http]\nhost='proxy.corp.example'\n\n[system/proxy/socks]\nport=1080\n",
        "[Proxy Settings]\nhttpProxy=http://proxy.corp.example 3128\n", false },
    { "OtherGroupsAndComments", "[org/gnome/desktop/interface]\nclock-format='24h'\n",
        "# kept by hand\n[$Version]\nupdate_info=kioslave.upd:change-proxy-type\n\n[Cache Settings]\n"
        "MaxCacheSize = 51200\n\n# the proxy\n[Proxy Settings]\nProxyType = 0\n# none yet\nNoProxyFor=\n"
        "[UserAgent]\nSendUserAgent=false",
        false },
    { "NoProxyGroupYet", "", "[General]\nfoo=bar\n", false },
    { "AnEmptyFile", "", "", false },
    { "NoFinalNewlineNorProxyGroup", "", "[General]\nfoo=bar", false },
    { "AnEmptyProxyGroup", "", "[General]\nfoo=bar\n\n[Proxy Settings]\n\n[UserAgent]\nSendUserAgent=false\n", false },
};

class DesktopProxyBackendIntegration : public test::DataFolderTest {
protected:
    static void SetUpTestSuite() { DesktopSession::shared(); }

    QString kioslaverc() const { return session.configFolder() + QStringLiteral("/kioslaverc"); }
    bool journalExists() const { return QFile::exists(AppPaths::desktopProxyBackup()); }

    void begin(const Start &start)
    {
        session.dconfReset();
        session.dconfLoad(start.dconf);
        QFile::remove(kioslaverc());
        if (start.kioslaverc)
            test::writeBytes(kioslaverc(), start.kioslaverc);
        start.kdeSession ? ::setenv("XDG_CURRENT_DESKTOP", "KDE", 1) : ::unsetenv("XDG_CURRENT_DESKTOP");
    }

    DesktopState state() const
    {
        DesktopState now { session.dconfDump(), std::nullopt };
        if (QFile::exists(kioslaverc()))
            now.kioslaverc = test::readBytes(kioslaverc());
        return now;
    }

    // What GNOME and KDE themselves read: every proxy at 127.0.0.1 on 7890, local
    // names bypassed.
    void expectPointedAtUs(bool kde, const char *name)
    {
        const char *gnome[][3] = { { "", "mode", "'manual'" },
            { "", "ignore-hosts", "['localhost', '127.0.0.1', '::1', '*.local', '169.254.0.0/16']" },
            { ".http", "host", "'127.0.0.1'" }, { ".http", "port", "7890" }, { ".https", "host", "'127.0.0.1'" },
            { ".https", "port", "7890" }, { ".socks", "host", "'127.0.0.1'" }, { ".socks", "port", "7890" } };
        for (const auto &[schema, key, value] : gnome)
            EXPECT_EQ(session.gnomeSetting(
                          QStringLiteral("org.gnome.system.proxy") + QLatin1String(schema), QLatin1String(key)),
                QLatin1String(value))
                << name << schema << key;
        const char *kdeKeys[][2] = { { "ProxyType", "1" }, { "httpProxy", "http://127.0.0.1 7890" },
            { "httpsProxy", "http://127.0.0.1 7890" }, { "socksProxy", "socks://127.0.0.1 7890" },
            { "NoProxyFor", "localhost,127.0.0.1,::1,*.local,169.254.0.0/16" } };
        for (const auto &[key, value] : kdeKeys)
            EXPECT_TRUE(!kde || session.kdeProxySetting(QLatin1String(key)) == QLatin1String(value))
                << name << " " << key;
    }

    DesktopSession &session = DesktopSession::shared();
    DesktopProxyBackend backend;
};

} // namespace

TEST_F(DesktopProxyBackendIntegration, EveryStartingStateIsPointedAtUsAndPutBackByteForByte)
{
    ReparseListener kde;
    for (const Start &start : starts) {
        begin(start);
        const DesktopState before = state();
        const bool kdePresent = start.kdeSession || start.kioslaverc;
        const int told = kde.count;
        test::await(backend.enable(7890));
        expectPointedAtUs(kdePresent, start.name);
        EXPECT_TRUE(test::await(backend.stillApplied())) << start.name;
        EXPECT_EQ(test::modeOf(AppPaths::desktopProxyBackup()), 0600) << start.name;
        EXPECT_TRUE(!kdePresent || kde.waitFor(told + 1)) << start.name << ": running KDE applications were not told";

        test::await(backend.restoreIfNeeded(false));
        const DesktopState after = state();
        EXPECT_EQ(after.dconf.toStdString(), before.dconf.toStdString()) << start.name;
        EXPECT_EQ(after.kioslaverc, before.kioslaverc) << start.name;
        EXPECT_FALSE(journalExists()) << start.name;
        EXPECT_FALSE(test::await(backend.stillApplied())) << start.name;
    }
}

TEST_F(DesktopProxyBackendIntegration, AKeyTheUserChangedWhileConnectedIsKeptUnlessForced)
{
    // From nothing set, the user changes GNOME's HTTP host and KDE's HTTPS proxy
    // while connected.
    struct Case {
        const char *name;
        bool force;
        const char *dconfAfter;
        const char *kdeHttpsAfter;
    } cases[] = {
        { "Disconnect", false, "[system/proxy/http]\nhost='proxy.user.example'\n", "http://proxy.user.example 8080" },
        { "Repair", true, "", "" },
    };
    for (const Case &c : cases) {
        begin(starts[0]);
        test::await(backend.enable(7890));
        session.setGnomeSetting(QStringLiteral("org.gnome.system.proxy.http"), QStringLiteral("host"),
            QStringLiteral("proxy.user.example"));
        session.setKdeProxySetting(QStringLiteral("httpsProxy"), QStringLiteral("http://proxy.user.example 8080"));
        EXPECT_FALSE(test::await(backend.stillApplied())) << c.name;

        test::await(backend.restoreIfNeeded(c.force));
        EXPECT_EQ(session.dconfDump().toStdString(), c.dconfAfter) << c.name;
        EXPECT_EQ(session.kdeProxySetting(QStringLiteral("httpsProxy")), QLatin1String(c.kdeHttpsAfter)) << c.name;
        for (const char *key : { "ProxyType", "httpProxy", "socksProxy", "NoProxyFor" })
            EXPECT_EQ(session.kdeProxySetting(QLatin1String(key)), QString()) << c.name << " " << key;
        EXPECT_FALSE(journalExists()) << c.name;
    }
}

// A store that says yes but keeps the old value rolls everything back at once;
// a crash partway leaves the journal, which blocks the next start's enable
// until its repair puts everything back.
TEST_F(DesktopProxyBackendIntegration, AFailedEnableEndsWithEverythingAsItWas)
{
    // Entries are written GNOME first (eight keys), then KDE (five).
    const struct {
        const char *name;
        int writesBeforeCrash;
        const char *ignoredKey;
        bool repaired; // by the next start, after a crash
    } cases[] = {
        { "CrashAfterTheJournal", 0, "", false },
        { "CrashInsideTheGnomeBatch", 3, "", true },
        { "CrashBetweenTheStores", 8, "", true },
        { "CrashInsideTheKdeBatch", 10, "", true },
        { "GnomeKeyNotKept", -1, "org.gnome.system.proxy.socks/port", false },
        { "KdeKeyNotKept", -1, "NoProxyFor", false },
    };
    for (const auto &c : cases) {
        begin(c.writesBeforeCrash < 0 ? starts[4] : corporate);
        const DesktopState before = state();
        auto faults = std::make_shared<StoreFaults>(StoreFaults { c.writesBeforeCrash, QLatin1String(c.ignoredKey) });
        const auto failure = failureOf(DesktopProxyBackend(FaultyProxyStore::around(faults)).enable(7890));
        if (c.writesBeforeCrash < 0) {
            EXPECT_EQ(failure, QStringLiteral("系统没有确认全部代理设置。")) << c.name;
        } else {
            EXPECT_TRUE(failure) << c.name;
            ASSERT_TRUE(journalExists()) << c.name;
            DesktopProxyBackend next;
            EXPECT_EQ(
                failureOf(next.enable(7890)), QStringLiteral("检测到尚未恢复的代理快照，请先执行“修复网络设置”。"))
                << c.name;
            EXPECT_EQ(test::await(next.recoverStaleProxy()), c.repaired) << c.name;
        }
        EXPECT_EQ(state(), before) << c.name;
        EXPECT_FALSE(journalExists()) << c.name;
    }
    // A line that failed its check is never pointed at: its failure is the one passed on.
    const DesktopState before = state();
    EXPECT_EQ(failureOf(DesktopProxyBackend().enable(7890, lineDown())), QStringLiteral("line down"));
    EXPECT_EQ(state(), before);
    EXPECT_FALSE(journalExists());
}

// Without any desktop settings nothing is changed; a journal naming a key we
// never write is an error and stays.
TEST_F(DesktopProxyBackendIntegration, RefusesWithoutDesktopSettingsOrWithAForeignJournal)
{
    QTemporaryDir emptyFolder;
    DesktopProxyBackend none([&] {
        DesktopProxyBackend::Stores stores;
        stores.push_back(std::make_unique<KioslavercProxyStore>(emptyFolder.path()));
        return stores;
    });
    EXPECT_EQ(failureOf(none.enable(7890)), QStringLiteral("没有找到桌面代理设置（GNOME 或 KDE），无法设置系统代理。"));
    EXPECT_FALSE(journalExists());
    EXPECT_FALSE(QFile::exists(emptyFolder.path() + QStringLiteral("/kioslaverc")));

    AppPaths::prepare();
    AppPaths::write(json::Json::parse(
                        R"({"keys": [{"store": "gsettings", "key": "org.gnome.system.proxy/no-such-key",
        "previous": null, "applied": "'x'"}]})"),
        AppPaths::desktopProxyBackup());
    EXPECT_THROW(test::await(backend.recoverStaleProxy()), SystemError);
    EXPECT_THROW(test::await(backend.restoreIfNeeded(true)), SystemError);
    EXPECT_TRUE(journalExists());
}

#include "DesktopProxyBackendTests.moc"
