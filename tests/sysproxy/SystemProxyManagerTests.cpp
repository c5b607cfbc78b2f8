#include "NetworkSetupProxyBackend.h"
#include "SysproxyTestSupport.h"
#include "SystemProxyManager.h"

#include "AppPaths.h"
#include "Errors.h"
#include "TestSupport.h"

#include "veyra/ipc/ProxyCommandValidator.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

using namespace veyra;
using test::HelperHarness;
using test::failureOf;
using Lines = std::vector<std::vector<std::string>>;

namespace {

const QString prefix = QString::fromUtf8(NetworkSetupProxyBackend::helperUnavailablePrefix) + u'\n';

class SystemProxyManagerIntegration : public test::DataFolderTest {
protected:
    std::unique_ptr<SystemProxyManager> makeManager(const QString &socket)
    {
        return std::make_unique<SystemProxyManager>(
            QStringLiteral(VEYRA_NETWORKSETUP_EXECUTABLE), std::make_unique<PrivilegedProxyClient>(socket));
    }
    bool snapshotExists() const { return QFile::exists(AppPaths::proxyBackup()); }
    QString log() const
    {
        QString text;
        for (const QFileInfo &file : QDir(AppPaths::logs()).entryInfoList(QDir::Files))
            text += QString::fromUtf8(test::readBytes(file.filePath()));
        return text;
    }
    void userRuns(const char *verb, const char *service, QStringList values)
    {
        helper.userRuns(QStringList { QLatin1String(verb), QLatin1String(service) } + values);
    }

    // Wi-Fi with the user's own HTTP proxy, bypass list, configuration address and
    // discovery; Ethernet with nothing set.
    void useCustomisedServices()
    {
        nlohmann::json wifi = HelperHarness::serviceRecord(QStringLiteral("Wi-Fi"), QStringLiteral("192.168.1.20"));
        wifi["web"] = { { "enabled", true }, { "server", "proxy.lan" }, { "port", 3128 } };
        wifi["bypassDomains"] = { "*.corp", "10.0.0.0/8" };
        wifi["autoProxyURL"] = "http://pac.lan/p.pac";
        wifi["autoDiscoveryEnabled"] = true;
        helper.setServices(
            { wifi, HelperHarness::serviceRecord(QStringLiteral("Ethernet"), QStringLiteral("10.0.0.5")) });
    }
    // The settings as they take effect. networksetup cannot clear a switched-off proxy's
    // address and a restore only switches it off, so that address is left out.
    nlohmann::json settings() const
    {
        nlohmann::json all = helper.state()["services"];
        for (auto &service : all)
            for (const char *kind : { "web", "secureWeb", "socks" })
                if (!service[kind]["enabled"].get<bool>())
                    service[kind] = false;
        return all;
    }

    // The services the tool changed, in the order it first changed them; every line it ran
    // passes the helper's grammar.
    std::vector<std::string> changedServices() const
    {
        std::vector<std::string> services;
        for (const std::vector<std::string> &line : helper.history()) {
            ipc::CommandLine full { "/usr/sbin/networksetup" };
            full.insert(full.end(), line.begin(), line.end());
            EXPECT_NO_THROW(ipc::ProxyCommandValidator::validate({ full })) << line.at(0);
            if (std::find(services.begin(), services.end(), line.at(1)) == services.end())
                services.push_back(line.at(1));
        }
        return services;
    }
    // All three proxies at this machine's port 7890, no configuration address or discovery.
    void expectPointedHere(const QString &name) const
    {
        const nlohmann::json service = helper.service(name);
        for (const char *kind : { "web", "secureWeb", "socks" })
            EXPECT_EQ(service[kind], (nlohmann::json { { "enabled", true }, { "server", "127.0.0.1" }, { "port", 7890 } }))
                << name.toStdString() << " " << kind;
        EXPECT_EQ(service["autoProxyEnabled"], false) << name.toStdString();
        EXPECT_EQ(service["autoDiscoveryEnabled"], false) << name.toStdString();
    }

    HelperHarness helper;
    std::unique_ptr<SystemProxyManager> manager = makeManager(helper.socketPath());
};

} // namespace

TEST_F(SystemProxyManagerIntegration, EnableSendsOneRequestInTableOrderAndRestorePutsEverythingBack)
{
    useCustomisedServices();
    const nlohmann::json before = settings();
    test::await(manager->enable(7890));
    EXPECT_EQ(helper.requests(), 1);
    EXPECT_EQ(changedServices(), (std::vector<std::string> { "Wi-Fi", "Ethernet" }));
    expectPointedHere(QStringLiteral("Wi-Fi"));
    expectPointedHere(QStringLiteral("Ethernet"));
    EXPECT_EQ(test::modeOf(AppPaths::proxyBackup()), 0600);
    auto snapshot = NetworkSetupProxyBackend::readSnapshot();
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->appliedPort, 7890);
    EXPECT_EQ(snapshot->services.at(0).autoProxyURL, QStringLiteral("http://pac.lan/p.pac"));
    EXPECT_TRUE(snapshot->services.at(1).bypassDomains.isEmpty()) << "\"there aren't any\" is not a domain";

    test::await(manager->restoreIfNeeded(false));
    EXPECT_EQ(settings(), before);
    EXPECT_FALSE(snapshotExists());
    const Lines history = helper.history();
    EXPECT_NE(std::find(history.begin(), history.end(),
                  std::vector<std::string> { "-setproxybypassdomains", "Ethernet", "Empty" }),
        history.end());
}

TEST_F(SystemProxyManagerIntegration, DisabledAndAddresslessServicesAreNeverTouched)
{
    helper.setServices({ HelperHarness::serviceRecord(QStringLiteral("Wi-Fi"), QStringLiteral("192.168.1.20")),
        HelperHarness::serviceRecord(QStringLiteral("Bluetooth PAN"), QStringLiteral("10.9.0.2"), false),
        HelperHarness::serviceRecord(QStringLiteral("Ethernet"), QString()),
        HelperHarness::serviceRecord(QStringLiteral("Bridge"), QStringLiteral("0.0.0.0")) });
    test::await(manager->enable(7890));
    EXPECT_EQ(changedServices(), std::vector<std::string> { "Wi-Fi" });
    expectPointedHere(QStringLiteral("Wi-Fi"));
}

TEST_F(SystemProxyManagerIntegration, UserChangedServiceIsLeftAloneAndTheSnapshotRemoved)
{
    test::await(manager->enable(7890));
    userRuns("-setwebproxy", "Wi-Fi", { QStringLiteral("corp.proxy"), QStringLiteral("8080") });
    userRuns("-setsecurewebproxystate", "Wi-Fi", { QStringLiteral("off") });
    userRuns("-setsocksfirewallproxystate", "Wi-Fi", { QStringLiteral("off") });
    const auto userWifi = helper.service(QStringLiteral("Wi-Fi"));
    test::await(manager->restoreIfNeeded(false));
    EXPECT_EQ(helper.service(QStringLiteral("Wi-Fi")), userWifi);
    EXPECT_EQ(helper.service(QStringLiteral("Ethernet"))["web"]["enabled"], false) << "still ours, so restored";
    EXPECT_FALSE(snapshotExists());
}

TEST_F(SystemProxyManagerIntegration, FailureOnTheFifthLineReappliesEverySavedService)
{
    useCustomisedServices();
    const nlohmann::json before = settings();
    helper.failOn(QStringLiteral("-setsocksfirewallproxy"), 1, QStringLiteral("SOCKS 被拒绝"), QStringLiteral("Wi-Fi"));
    EXPECT_EQ(failureOf(manager->enable(7890)), prefix + QStringLiteral("SOCKS 被拒绝"));
    EXPECT_EQ(settings(), before);
    EXPECT_FALSE(snapshotExists());
}

TEST_F(SystemProxyManagerIntegration, UnconfirmedSettingsAreRolledBack)
{
    const nlohmann::json before = settings();
    // The tool claims success for Ethernet's SOCKS address but changes nothing.
    helper.failOn(QStringLiteral("-setsocksfirewallproxy"), 0, QString(), QStringLiteral("Ethernet"));
    EXPECT_EQ(failureOf(manager->enable(7890)), QStringLiteral("系统没有确认全部代理设置。"));
    EXPECT_EQ(settings(), before);
    EXPECT_FALSE(snapshotExists());
}

TEST_F(SystemProxyManagerIntegration, LeftoverSnapshotBlocksEnableUntilRestored)
{
    test::await(manager->enable(7890));
    const auto history = helper.history();
    EXPECT_EQ(failureOf(manager->enable(7891)), QStringLiteral("检测到尚未恢复的代理快照，请先执行“修复网络设置”。"));
    EXPECT_EQ(helper.history(), history);
    test::await(manager->restoreIfNeeded(true));
    EXPECT_EQ(failureOf(manager->enable(7891)), std::nullopt);
}

TEST_F(SystemProxyManagerIntegration, FifteenServicesAreRefusedBeforeAnythingChanges)
{
    std::vector<nlohmann::json> services;
    for (int i = 0; i < 15; ++i)
        services.push_back(
            HelperHarness::serviceRecord(QStringLiteral("S%1").arg(i), QStringLiteral("10.1.0.%1").arg(i + 1)));
    helper.setServices(services);
    EXPECT_EQ(failureOf(manager->enable(7890)), prefix + QStringLiteral("代理命令数量无效。"));
    // Nothing was sent, so there is nothing to undo and no journal to leave behind.
    EXPECT_EQ(helper.requests(), 0);
    EXPECT_FALSE(snapshotExists());
    EXPECT_EQ(failureOf(manager->enable(7890)), prefix + QStringLiteral("代理命令数量无效。"))
        << "a refused attempt must not block the next one with a leftover snapshot";
}

TEST_F(SystemProxyManagerIntegration, SettingsThatCouldNotBePutBackAreNeverChanged)
{
    // 13 services fit the apply request (117 lines), but with an address on all three
    // proxies and a configuration address each needs 10 lines to restore: 130 in all.
    std::vector<nlohmann::json> services;
    for (int i = 0; i < 13; ++i) {
        nlohmann::json service
            = HelperHarness::serviceRecord(QStringLiteral("S%1").arg(i), QStringLiteral("10.1.0.%1").arg(i + 1));
        for (const char *kind : { "web", "secureWeb", "socks" })
            service[kind] = { { "enabled", false }, { "server", "old.proxy" }, { "port", 3128 } };
        service["autoProxyURL"] = "http://pac.lan/p.pac";
        services.push_back(service);
    }
    helper.setServices(services);
    // The undo is what fails: the user is told which rule it broke, not to reinstall.
    EXPECT_EQ(failureOf(manager->enable(7890)), QStringLiteral("代理命令数量无效。"));
    EXPECT_EQ(helper.requests(), 0);
    EXPECT_FALSE(snapshotExists());

    // A bypass list longer than one command line may carry.
    nlohmann::json wifi = HelperHarness::serviceRecord(QStringLiteral("Wi-Fi"), QStringLiteral("192.168.1.20"));
    for (int i = 0; i < 130; ++i)
        wifi["bypassDomains"].push_back("host" + std::to_string(i) + ".corp");
    helper.setServices({ wifi });
    EXPECT_EQ(failureOf(manager->enable(7890)), QStringLiteral("后台服务拒绝了未知的系统命令。"));
    EXPECT_EQ(helper.requests(), 0);
    EXPECT_FALSE(snapshotExists());
}

TEST_F(SystemProxyManagerIntegration, FailedReadsAreReportedRedactedBeforeAnythingChanges)
{
    helper.failOn(QStringLiteral("-getsecurewebproxy"), 1, QStringLiteral("  denied password=hunter2 \n"));
    EXPECT_EQ(failureOf(manager->enable(7890)), QStringLiteral("系统网络设置失败：denied password=***"));
    EXPECT_EQ(helper.requests(), 0);
    EXPECT_FALSE(snapshotExists());
}

TEST_F(SystemProxyManagerIntegration, AToolThatCannotRunFailsAtOnceAndRecoveryKeepsTheSnapshot)
{
    SystemProxyManager broken(helper.socketPath() + QStringLiteral(".tool-absent"),
        std::make_unique<PrivilegedProxyClient>(helper.socketPath()));
    QElapsedTimer clock;
    clock.start();
    EXPECT_THROW(test::await(broken.enable(7890)), SystemError);
    EXPECT_LT(clock.elapsed(), 1000) << "a launch failure must not wait out any time-out";
    EXPECT_FALSE(snapshotExists());

    // With a journal left by a crash, a start-up whose reads cannot run must neither restore
    // blindly nor throw the journal away.
    test::await(manager->enable(7890));
    clock.restart();
    EXPECT_THROW(test::await(broken.recoverStaleProxy()), SystemError);
    EXPECT_THROW(test::await(broken.restoreIfNeeded(false)), SystemError);
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_TRUE(snapshotExists());
    EXPECT_TRUE(test::await(manager->recoverStaleProxy()));
    EXPECT_FALSE(snapshotExists());
}

TEST_F(SystemProxyManagerIntegration, UnreachableHelperKeepsTheSnapshotForALaterRepair)
{
    auto message = failureOf(makeManager(helper.socketPath() + QStringLiteral(".absent"))->enable(7890));
    ASSERT_TRUE(message);
    EXPECT_TRUE(message->startsWith(prefix) && message->size() > prefix.size()) << message->toStdString();
    EXPECT_TRUE(snapshotExists()) << "the roll-back failed too, so the journal must survive";
    test::await(manager->restoreIfNeeded(true));
    EXPECT_FALSE(snapshotExists());
}

TEST_F(SystemProxyManagerIntegration, BrokenOrOversizedSnapshotIsAnErrorAndStays)
{
    AppPaths::prepare();
    test::writeBytes(AppPaths::proxyBackup(), R"({"appliedPort":7890})");
    EXPECT_THROW(test::await(manager->enable(7890)), SystemError);
    EXPECT_THROW(test::await(manager->recoverStaleProxy()), SystemError);
    test::writeBytes(AppPaths::proxyBackup(), QByteArray(1'048'577, ' '));
    EXPECT_EQ(failureOf(manager->restoreIfNeeded(true)), QString::fromUtf8(AppPaths::oversizeMessage));
    EXPECT_TRUE(snapshotExists());
    EXPECT_TRUE(helper.history().empty());
}

TEST_F(SystemProxyManagerIntegration, RecoveryRestoresWhatIsStillOursAndLogsIt)
{
    useCustomisedServices();
    const nlohmann::json before = settings();
    test::await(manager->enable(7890));
    manager.reset(); // the application ended without restoring
    auto next = makeManager(helper.socketPath());
    EXPECT_TRUE(test::await(next->recoverStaleProxy()));
    EXPECT_EQ(settings(), before);
    EXPECT_FALSE(test::await(next->recoverStaleProxy()));
    EXPECT_TRUE(log().contains(QStringLiteral("检测到上次异常退出，已恢复仍由本应用管理的系统代理。")));
}

TEST_F(SystemProxyManagerIntegration, RecoveryLeavesUserSettingsAndSaysSo)
{
    test::await(manager->enable(7890));
    for (const char *service : { "Wi-Fi", "Ethernet" }) {
        userRuns("-setwebproxy", service, { QStringLiteral("127.0.0.1"), QStringLiteral("9999") }); // ours was 7890
        userRuns("-setsecurewebproxystate", service, { QStringLiteral("off") });
        userRuns("-setsocksfirewallproxystate", service, { QStringLiteral("off") });
    }
    const int requests = helper.requests();
    EXPECT_FALSE(test::await(manager->recoverStaleProxy()));
    EXPECT_EQ(helper.requests(), requests);
    EXPECT_FALSE(snapshotExists());
    EXPECT_TRUE(log().contains(QStringLiteral("发现旧代理快照，但当前设置已被用户修改，因此没有覆盖。")));
}

// The journal is the user's file, which any process of the user may rewrite: from it the helper
// puts back nothing but what the services had before the first apply.
TEST_F(SystemProxyManagerIntegration, ACraftedJournalCannotPointTheMachineElsewhere)
{
    useCustomisedServices();
    const nlohmann::json before = settings();
    test::await(manager->enable(7890));
    const QByteArray genuine = test::readBytes(AppPaths::proxyBackup());
    QByteArray crafted = genuine;
    crafted.replace("proxy.lan", "203.0.113.66").replace("http://pac.lan/p.pac", "http://203.0.113.66/p.pac");
    ASSERT_NE(crafted, genuine);
    test::writeBytes(AppPaths::proxyBackup(), crafted);
    EXPECT_TRUE(failureOf(manager->restoreIfNeeded(true)));
    EXPECT_EQ(helper.state().dump().find("203.0.113.66"), std::string::npos);
    // What could not be put back is switched off, not left pointing at a port about to close;
    // the journal stays for a later repair.
    const nlohmann::json afterRefusal = helper.state();
    for (const nlohmann::json &service : afterRefusal["services"])
        for (const char *kind : { "web", "secureWeb", "socks" })
            EXPECT_FALSE(service[kind]["enabled"].get<bool>()) << service["name"] << " " << kind;
    EXPECT_TRUE(snapshotExists());

    test::writeBytes(AppPaths::proxyBackup(), genuine);
    test::await(manager->restoreIfNeeded(true));
    EXPECT_EQ(settings(), before);
}
