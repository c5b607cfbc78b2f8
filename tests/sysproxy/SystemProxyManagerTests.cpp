#include "SysproxyTestSupport.h"
#include "SystemProxyManager.h"

#include "AppPaths.h"
#include "Errors.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>

using namespace veyra;
using Lines = std::vector<std::vector<std::string>>;

namespace {

const QString prefix = QString::fromUtf8(SystemProxyManager::helperUnavailablePrefix) + u'\n';

class SystemProxyManagerTest : public test::DataFolderTest {
protected:
    std::unique_ptr<SystemProxyManager> makeManager(QString socket = {})
    {
        return std::make_unique<SystemProxyManager>(QStringLiteral(VEYRA_NETWORKSETUP_EXECUTABLE),
            std::make_unique<PrivilegedProxyClient>(socket.isEmpty() ? helper.socketPath() : socket));
    }
    std::optional<QString> failureOf(QCoro::Task<void> &&task)
    {
        try {
            test::awaitTask(std::move(task));
            return std::nullopt;
        } catch (const std::exception &error) {
            return describe(error);
        }
    }
    bool snapshotExists() const { return QFile::exists(AppPaths::proxyBackup()); }

    // Wi-Fi with a user's own HTTP proxy, bypass list and configuration address; Ethernet
    // with nothing set.
    void useCustomisedServices()
    {
        nlohmann::json wifi
            = test::HelperHarness::serviceRecord(QStringLiteral("Wi-Fi"), QStringLiteral("192.168.1.20"));
        wifi["web"] = { { "enabled", true }, { "server", "proxy.lan" }, { "port", 3128 } };
        wifi["bypassDomains"] = { "*.corp", "10.0.0.0/8" };
        wifi["autoProxyURL"] = "http://pac.lan/p.pac";
        wifi["autoDiscoveryEnabled"] = true;
        helper.setServices(
            { wifi, test::HelperHarness::serviceRecord(QStringLiteral("Ethernet"), QStringLiteral("10.0.0.5")) });
    }
    // The proxy settings of each service as they take effect, to compare before and after.
    // networksetup cannot clear a switched-off proxy's address, and a restore only switches
    // such a proxy off, so the address of a disabled proxy is left out.
    nlohmann::json settings() const
    {
        nlohmann::json all = helper.state()["services"];
        for (auto &service : all) {
            service.erase("ipAddress");
            service.erase("enabled");
            for (const char *kind : { "web", "secureWeb", "socks" })
                if (!service[kind]["enabled"].get<bool>())
                    service[kind] = { { "enabled", false } };
        }
        return all;
    }

    test::HelperHarness helper;
    std::unique_ptr<SystemProxyManager> manager = makeManager();
};

Lines applyLines(const QString &service, qint64 port)
{
    Lines lines;
    for (const auto &line : SystemProxyManager::applyCommands(service, port))
        lines.emplace_back(line.begin() + 1, line.end());
    return lines;
}

} // namespace

TEST_F(SystemProxyManagerTest, EnableSendsOneRequestForAllServicesAndKeepsTheSnapshot)
{
    useCustomisedServices();
    test::awaitTask(manager->enable(7890));

    EXPECT_EQ(helper.requests(), 1);
    Lines expected = applyLines(QStringLiteral("Wi-Fi"), 7890);
    Lines ethernet = applyLines(QStringLiteral("Ethernet"), 7890);
    expected.insert(expected.end(), ethernet.begin(), ethernet.end());
    EXPECT_EQ(helper.history(), expected);
    EXPECT_EQ(helper.service(QStringLiteral("Ethernet"))["socks"]["server"], "127.0.0.1");

    ASSERT_TRUE(snapshotExists());
    EXPECT_EQ(test::modeOf(AppPaths::proxyBackup()), 0600);
    auto snapshot = SystemProxyManager::readSnapshot();
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->appliedPort, 7890);
    ASSERT_EQ(snapshot->services.size(), 2u);
    EXPECT_EQ(snapshot->services[0].web, (ProxyEndpointState { true, QStringLiteral("proxy.lan"), 3128 }));
    EXPECT_EQ(
        snapshot->services[0].bypassDomains, (QStringList { QStringLiteral("*.corp"), QStringLiteral("10.0.0.0/8") }));
    EXPECT_EQ(snapshot->services[0].autoProxyURL, QStringLiteral("http://pac.lan/p.pac"));
    EXPECT_TRUE(snapshot->services[0].autoDiscoveryEnabled);
    EXPECT_TRUE(snapshot->services[1].bypassDomains.isEmpty()) << "\"there aren't any\" is not a domain";
}

TEST_F(SystemProxyManagerTest, EnableThenRestorePutsEverythingBackExactly)
{
    useCustomisedServices();
    const nlohmann::json before = settings();
    test::awaitTask(manager->enable(7890));
    test::awaitTask(manager->restoreIfNeeded(false));
    EXPECT_EQ(settings(), before);
    EXPECT_FALSE(snapshotExists());

    // The untouched service came back with its state lines only and the "Empty" bypass.
    Lines history = helper.history();
    Lines ethernetRestore;
    for (auto it = history.begin() + 18; it != history.end(); ++it)
        if ((*it)[1] == "Ethernet")
            ethernetRestore.push_back(*it);
    const Lines expected = {
        { "-setwebproxystate", "Ethernet", "off" },
        { "-setsecurewebproxystate", "Ethernet", "off" },
        { "-setsocksfirewallproxystate", "Ethernet", "off" },
        { "-setproxybypassdomains", "Ethernet", "Empty" },
        { "-setautoproxystate", "Ethernet", "off" },
        { "-setproxyautodiscovery", "Ethernet", "off" },
    };
    EXPECT_EQ(ethernetRestore, expected);
}

TEST_F(SystemProxyManagerTest, DisabledAndAddresslessServicesAreNeverTouched)
{
    helper.setServices({ test::HelperHarness::serviceRecord(QStringLiteral("Wi-Fi"), QStringLiteral("192.168.1.20")),
        test::HelperHarness::serviceRecord(QStringLiteral("Bluetooth PAN"), QStringLiteral("10.9.0.2"), false),
        test::HelperHarness::serviceRecord(QStringLiteral("Ethernet"), QString()),
        test::HelperHarness::serviceRecord(QStringLiteral("Thunderbolt Bridge"), QStringLiteral("0.0.0.0")) });
    EXPECT_EQ(test::awaitTask(manager->activeNetworkServices()), QStringList { QStringLiteral("Wi-Fi") });
    test::awaitTask(manager->enable(7890));
    for (const auto &line : helper.history())
        EXPECT_EQ(line[1], "Wi-Fi");
    EXPECT_EQ(helper.history().size(), 9u);
}

TEST_F(SystemProxyManagerTest, UserChangedServiceIsLeftAloneAndTheSnapshotRemoved)
{
    test::awaitTask(manager->enable(7890));
    const int requestsAfterEnable = helper.requests();
    helper.userRuns({ QStringLiteral("-setwebproxy"), QStringLiteral("Wi-Fi"), QStringLiteral("corp.proxy"),
        QStringLiteral("8080") });
    helper.userRuns({ QStringLiteral("-setsecurewebproxystate"), QStringLiteral("Wi-Fi"), QStringLiteral("off") });
    helper.userRuns({ QStringLiteral("-setsocksfirewallproxystate"), QStringLiteral("Wi-Fi"), QStringLiteral("off") });
    const auto userWifi = helper.service(QStringLiteral("Wi-Fi"));

    // Ethernet still points at us and is restored; Wi-Fi is the user's now.
    test::awaitTask(manager->restoreIfNeeded(false));
    EXPECT_EQ(helper.requests(), requestsAfterEnable + 1);
    EXPECT_EQ(helper.service(QStringLiteral("Wi-Fi")), userWifi);
    EXPECT_EQ(helper.service(QStringLiteral("Ethernet"))["web"]["enabled"], false);
    EXPECT_FALSE(snapshotExists());
}

TEST_F(SystemProxyManagerTest, NothingStillOursMeansOnlyTheSnapshotIsRemoved)
{
    test::awaitTask(manager->enable(7890));
    for (const char *service : { "Wi-Fi", "Ethernet" })
        for (const char *verb : { "-setwebproxystate", "-setsecurewebproxystate", "-setsocksfirewallproxystate" })
            helper.userRuns({ QString::fromLatin1(verb), QString::fromLatin1(service), QStringLiteral("off") });
    const int requests = helper.requests();
    test::awaitTask(manager->restoreIfNeeded(false));
    EXPECT_EQ(helper.requests(), requests);
    EXPECT_FALSE(snapshotExists());
}

TEST_F(SystemProxyManagerTest, ForcedRestoreTakesEveryServiceEvenIfChanged)
{
    useCustomisedServices();
    const nlohmann::json before = settings();
    test::awaitTask(manager->enable(7890));
    helper.userRuns(
        { QStringLiteral("-setwebproxy"), QStringLiteral("Wi-Fi"), QStringLiteral("x.lan"), QStringLiteral("1") });
    test::awaitTask(manager->restoreIfNeeded(true));
    EXPECT_EQ(settings(), before);
    EXPECT_FALSE(snapshotExists());
}

TEST_F(SystemProxyManagerTest, FailureOnTheFifthLineReappliesEverySavedService)
{
    useCustomisedServices();
    const nlohmann::json before = settings();
    helper.failOn(
        QStringLiteral("-setsocksfirewallproxy"), 1, QStringLiteral("SOCKS 设置被拒绝"), QStringLiteral("Wi-Fi"));
    EXPECT_EQ(failureOf(manager->enable(7890)), prefix + QStringLiteral("SOCKS 设置被拒绝"));
    EXPECT_EQ(settings(), before);
    EXPECT_FALSE(snapshotExists());
    EXPECT_EQ(helper.requests(), 2);
}

TEST_F(SystemProxyManagerTest, UnconfirmedSettingsAreRolledBack)
{
    useCustomisedServices();
    const nlohmann::json before = settings();
    // The tool claims success for Ethernet's SOCKS address but changes nothing.
    helper.failOn(QStringLiteral("-setsocksfirewallproxy"), 0, QString(), QStringLiteral("Ethernet"));
    EXPECT_EQ(failureOf(manager->enable(7890)), QStringLiteral("macOS 没有确认全部代理设置。"));
    EXPECT_EQ(settings(), before);
    EXPECT_FALSE(snapshotExists());
}

TEST_F(SystemProxyManagerTest, LeftoverSnapshotBlocksEnableUntilRestored)
{
    test::awaitTask(manager->enable(7890));
    const auto history = helper.history();
    EXPECT_EQ(failureOf(manager->enable(7891)), QStringLiteral("检测到尚未恢复的代理快照，请先执行“修复网络设置”。"));
    EXPECT_EQ(helper.history(), history);
    test::awaitTask(manager->restoreIfNeeded(true));
    EXPECT_EQ(failureOf(manager->enable(7891)), std::nullopt);
}

TEST_F(SystemProxyManagerTest, FifteenServicesAreRefusedBeforeAnythingChanges)
{
    std::vector<nlohmann::json> services;
    for (int i = 0; i < 15; ++i)
        services.push_back(test::HelperHarness::serviceRecord(
            QStringLiteral("Service %1").arg(i), QStringLiteral("10.1.0.%1").arg(i + 1)));
    helper.setServices(services);
    const nlohmann::json before = settings();
    EXPECT_EQ(failureOf(manager->enable(7890)), prefix + QStringLiteral("代理命令数量无效。"));
    for (const auto &line : helper.history())
        EXPECT_NE(line[0], "-setwebproxy") << "nothing may point at the local port";
    EXPECT_EQ(settings(), before);
}

TEST_F(SystemProxyManagerTest, NoActiveServiceIsAnError)
{
    helper.setServices({ test::HelperHarness::serviceRecord(QStringLiteral("Wi-Fi"), QString()) });
    EXPECT_EQ(failureOf(manager->enable(7890)), QStringLiteral("没有检测到正在联网的 Wi‑Fi 或以太网服务。"));
    EXPECT_FALSE(snapshotExists());
}

TEST_F(SystemProxyManagerTest, FailedReadsAreReportedRedactedBeforeAnythingChanges)
{
    helper.failOn(QStringLiteral("-getsecurewebproxy"), 1, QStringLiteral("  denied password=hunter2 \n"));
    EXPECT_EQ(failureOf(manager->enable(7890)), QStringLiteral("系统网络设置失败：denied password=***"));
    EXPECT_EQ(helper.requests(), 0);
    EXPECT_FALSE(snapshotExists());
}

TEST_F(SystemProxyManagerTest, UnreachableHelperKeepsTheSnapshotForALaterRepair)
{
    auto orphan = makeManager(helper.socketPath() + QStringLiteral(".absent"));
    auto message = failureOf(orphan->enable(7890));
    ASSERT_TRUE(message);
    EXPECT_TRUE(message->startsWith(prefix)) << message->toStdString();
    EXPECT_GT(message->size(), prefix.size());
    EXPECT_TRUE(snapshotExists()) << "the roll-back failed too, so the journal must survive";
    EXPECT_TRUE(helper.history().empty());
    test::awaitTask(manager->restoreIfNeeded(true));
    EXPECT_FALSE(snapshotExists());
}

TEST_F(SystemProxyManagerTest, BrokenOrOversizedSnapshotIsAnErrorAndStays)
{
    AppPaths::prepare();
    test::writeBytes(AppPaths::proxyBackup(), R"({"appliedPort":7890})");
    EXPECT_THROW(test::awaitTask(manager->enable(7890)), SystemError);
    EXPECT_THROW(test::awaitTask(manager->restoreIfNeeded(true)), SystemError);
    EXPECT_THROW(test::awaitTask(manager->recoverStaleProxy()), SystemError);
    EXPECT_TRUE(snapshotExists());

    test::writeBytes(AppPaths::proxyBackup(), QByteArray(1'048'577, ' '));
    EXPECT_EQ(failureOf(manager->restoreIfNeeded(false)), QString::fromUtf8(AppPaths::oversizeMessage));
    EXPECT_TRUE(snapshotExists());
    EXPECT_TRUE(helper.history().empty());
}

TEST_F(SystemProxyManagerTest, RecoveryRestoresWhatIsStillOursAndLogsIt)
{
    useCustomisedServices();
    const nlohmann::json before = settings();
    test::awaitTask(manager->enable(7890));
    manager.reset(); // the application ended without restoring

    auto next = makeManager();
    EXPECT_TRUE(test::awaitTask(next->recoverStaleProxy()));
    EXPECT_EQ(settings(), before);
    EXPECT_FALSE(snapshotExists());
    EXPECT_FALSE(test::awaitTask(next->recoverStaleProxy()));

    QString logged;
    for (const QFileInfo &file : QDir(AppPaths::logs()).entryInfoList(QDir::Files))
        logged += QString::fromUtf8(test::readBytes(file.filePath()));
    EXPECT_TRUE(logged.contains(QStringLiteral("检测到上次异常退出，已恢复仍由本应用管理的 macOS 系统代理。")));
}

TEST_F(SystemProxyManagerTest, RecoveryLeavesUserSettingsAndSaysSo)
{
    test::awaitTask(manager->enable(7890));
    for (const char *service : { "Wi-Fi", "Ethernet" })
        helper.userRuns({ QStringLiteral("-setwebproxy"), QString::fromLatin1(service), QStringLiteral("127.0.0.1"),
            QStringLiteral("9999") }); // ours was 7890
    for (const char *service : { "Wi-Fi", "Ethernet" })
        for (const char *verb : { "-setsecurewebproxystate", "-setsocksfirewallproxystate" })
            helper.userRuns({ QString::fromLatin1(verb), QString::fromLatin1(service), QStringLiteral("off") });
    const int requests = helper.requests();
    EXPECT_FALSE(test::awaitTask(makeManager()->recoverStaleProxy()));
    EXPECT_EQ(helper.requests(), requests);
    EXPECT_FALSE(snapshotExists());
    QString logged;
    for (const QFileInfo &file : QDir(AppPaths::logs()).entryInfoList(QDir::Files))
        logged += QString::fromUtf8(test::readBytes(file.filePath()));
    EXPECT_TRUE(logged.contains(QStringLiteral("发现旧代理快照，但当前设置已被用户修改，因此没有覆盖。")));
}
