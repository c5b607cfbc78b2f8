#include "NetworkSetupProxyBackend.h"
#include "SysproxyTestSupport.h"
#include "SystemProxyManager.h"

#include "AppPaths.h"
#include "Errors.h"
#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <functional>

using namespace veyra;
using test::failureOf;
using Json = nlohmann::json;

namespace {

const QString prefix = QString::fromUtf8(NetworkSetupProxyBackend::helperUnavailablePrefix) + u'\n';
const QString leftover = QStringLiteral("检测到尚未恢复的代理快照，请先执行“修复网络设置”。");

const auto service = &helper::test::StandInState::serviceRecord;

// The stand-in networksetup behind the helper's own server: every line the manager sends passes
// the tool's grammar (it refuses any other), and its state is what the tests check.
class SystemProxyManagerIntegration : public test::DataFolderTest {
protected:
    std::unique_ptr<SystemProxyManager> makeManager(const QString &socket, const QString &tool = {})
    {
        return std::make_unique<SystemProxyManager>(
            tool.isEmpty() ? QStringLiteral(VEYRA_NETWORKSETUP_EXECUTABLE) : tool,
            std::make_unique<PrivilegedProxyClient>(socket));
    }
    bool snapshotExists() const { return QFile::exists(AppPaths::proxyBackup()); }
    QString log() const
    {
        QString text;
        for (const QFileInfo &file : QDir(AppPaths::logs()).entryInfoList(QDir::Files))
            text += QString::fromUtf8(test::readBytes(file.filePath()));
        return text;
    }
    // The user switches the service's proxies by hand: HTTP to `server`:`port`, the others off.
    void userTakesOver(const QString &name, const QString &server, const QString &port)
    {
        helper.userRuns({ QStringLiteral("-setwebproxy"), name, server, port });
        helper.userRuns({ QStringLiteral("-setsecurewebproxystate"), name, QStringLiteral("off") });
        helper.userRuns({ QStringLiteral("-setsocksfirewallproxystate"), name, QStringLiteral("off") });
    }
    // Wi-Fi with the user's own HTTP proxy, bypass list, configuration address and discovery;
    // Ethernet with nothing set; a disabled service and two without an address, never touched.
    void useCustomisedServices()
    {
        Json wifi = service("Wi-Fi", "192.168.1.20", true);
        wifi["web"] = { { "enabled", true }, { "server", "proxy.lan" }, { "port", 3128 } };
        wifi["bypassDomains"] = { "*.corp", "10.0.0.0/8" };
        wifi["autoProxyURL"] = "http://pac.lan/p.pac";
        wifi["autoDiscoveryEnabled"] = true;
        helper.setServices({ wifi, service("Bluetooth PAN", "10.9.0.2", false), service("Ethernet", "10.0.0.5", true),
            service("USB", "", true), service("Bridge", "0.0.0.0", true) });
    }
    // The settings as they take effect. networksetup cannot clear a switched-off proxy's address
    // and a restore only switches it off, so that address is left out.
    Json settings() const
    {
        Json all = helper.state()["services"];
        for (auto &one : all)
            for (const char *kind : { "web", "secureWeb", "socks" })
                if (!one[kind]["enabled"].get<bool>())
                    one[kind] = false;
        return all;
    }

    test::HelperHarness helper;
    std::unique_ptr<SystemProxyManager> manager = makeManager(helper.socketPath());
};

} // namespace

// One request changes the services with an address, in the tool's order, to all three proxies
// at this machine; a snapshot left behind blocks the next enable; a restore puts back what is
// still ours and leaves what the user changed meanwhile.
TEST_F(SystemProxyManagerIntegration, EnableSendsOneRequestAndRestorePutsBackWhatIsStillOurs)
{
    useCustomisedServices();
    const Json before = settings();
    test::await(manager->enable(7890));
    EXPECT_EQ(helper.requests(), 1);
    std::vector<std::string> changed;
    for (const std::vector<std::string> &line : helper.history())
        if (std::find(changed.begin(), changed.end(), line.at(1)) == changed.end())
            changed.push_back(line.at(1));
    EXPECT_EQ(changed, (std::vector<std::string> { "Wi-Fi", "Ethernet" }));
    for (const QString &name : { QStringLiteral("Wi-Fi"), QStringLiteral("Ethernet") }) {
        const Json now = helper.service(name);
        for (const char *kind : { "web", "secureWeb", "socks" })
            EXPECT_EQ(now[kind], (Json { { "enabled", true }, { "server", "127.0.0.1" }, { "port", 7890 } }))
                << name.toStdString() << " " << kind;
        EXPECT_EQ(now["autoProxyEnabled"], false) << name.toStdString();
        EXPECT_EQ(now["autoDiscoveryEnabled"], false) << name.toStdString();
        EXPECT_EQ(now["bypassDomains"], (Json { "localhost", "127.0.0.1", "::1", "*.local", "169.254/16" }));
    }
    EXPECT_EQ(test::modeOf(AppPaths::proxyBackup()), 0600);
    auto snapshot = NetworkSetupProxyBackend::readSnapshot();
    ASSERT_TRUE(snapshot && snapshot->services.size() == 2u);
    EXPECT_TRUE(snapshot->services.at(1).bypassDomains.isEmpty()) << "\"there aren't any\" is not a domain";

    const auto history = helper.history();
    EXPECT_EQ(failureOf(manager->enable(7891)), leftover);
    EXPECT_EQ(helper.history(), history);

    userTakesOver(QStringLiteral("Ethernet"), QStringLiteral("corp.proxy"), QStringLiteral("8080"));
    Json expected = before;
    expected[2] = settings()[2];
    test::await(manager->restoreIfNeeded(false));
    EXPECT_EQ(settings(), expected);
    EXPECT_EQ(expected[2]["web"]["server"], "corp.proxy");
    EXPECT_FALSE(snapshotExists());

    // After a crash the next start does the same, and says so.
    EXPECT_EQ(failureOf(manager->enable(7891)), std::nullopt);
    manager = makeManager(helper.socketPath()); // the application ended without restoring
    EXPECT_TRUE(test::await(manager->recoverStaleProxy()));
    EXPECT_EQ(settings(), expected);
    EXPECT_FALSE(test::await(manager->recoverStaleProxy()));
    EXPECT_TRUE(log().contains(QStringLiteral("检测到上次异常退出，已恢复仍由本应用管理的系统代理。")));

    // The journal is the user's file, which any process of the user may rewrite: from it the
    // helper puts back nothing but what the services had before the first apply.
    test::await(manager->enable(7890));
    QByteArray crafted = test::readBytes(AppPaths::proxyBackup());
    ASSERT_TRUE(crafted.contains("proxy.lan"));
    test::writeBytes(AppPaths::proxyBackup(), crafted.replace("proxy.lan", "203.0.113.66"));
    EXPECT_TRUE(failureOf(manager->restoreIfNeeded(true)));
    EXPECT_EQ(helper.state().dump().find("203.0.113.66"), std::string::npos);
    EXPECT_TRUE(snapshotExists()) << "kept for a later repair";

    // Nothing is ours any more: nothing is sent, and the journal goes.
    for (const QString &name : { QStringLiteral("Wi-Fi"), QStringLiteral("Ethernet") })
        userTakesOver(name, QStringLiteral("127.0.0.1"), QStringLiteral("9999")); // ours was 7890
    const int requests = helper.requests();
    EXPECT_FALSE(test::await(manager->recoverStaleProxy()));
    EXPECT_EQ(helper.requests(), requests);
    EXPECT_FALSE(snapshotExists());
    EXPECT_TRUE(log().contains(QStringLiteral("发现旧代理快照，但当前设置已被用户修改，因此没有覆盖。")));
}

// Each of these is found out before a single setting changes: no request, no journal, and the
// next attempt is refused the same way rather than blocked by a leftover.
TEST_F(SystemProxyManagerIntegration, RequestsThatCannotBeSentOrUndoneChangeNothing)
{
    const auto many = [](int count, bool withEverythingToRestore) {
        std::vector<Json> services;
        for (int i = 0; i < count; ++i) {
            services.push_back(service(std::string("S").append(std::to_string(i)),
                std::string("10.1.0.").append(std::to_string(i + 1)), true));
            for (const char *kind : { "web", "secureWeb", "socks" })
                if (withEverythingToRestore)
                    services.back()[kind] = { { "enabled", false }, { "server", "old.proxy" }, { "port", 3128 } };
            services.back()["autoProxyURL"] = withEverythingToRestore ? "http://pac.lan/p.pac" : "";
        }
        return services;
    };
    Json longBypass = service("Wi-Fi", "192.168.1.20", true);
    for (int i = 0; i < 130; ++i)
        longBypass["bypassDomains"].push_back("host" + std::to_string(i) + ".corp");
    const struct {
        const char *name;
        std::function<void()> setUp;
        QString message;
    } cases[] = {
        { "fifteen services", [&] { helper.setServices(many(15, false)); },
            prefix + QStringLiteral("代理命令数量无效。") },
        // 13 services fit the apply request (117 lines), but each needs 10 lines to restore.
        { "a restore too long", [&] { helper.setServices(many(13, true)); }, QStringLiteral("代理命令数量无效。") },
        { "a bypass list longer than a line may be", [&] { helper.setServices({ longBypass }); },
            QStringLiteral("后台服务拒绝了未知的系统命令。") },
        { "a failed read",
            [&] {
                helper.failOn(QStringLiteral("-getsecurewebproxy"), 1, QStringLiteral("  denied password=hunter2 \n"));
            },
            QStringLiteral("系统网络设置失败：denied password=***") },
    };
    for (const auto &c : cases) {
        c.setUp();
        EXPECT_EQ(failureOf(manager->enable(7890)), c.message) << c.name;
        EXPECT_EQ(failureOf(manager->enable(7890)), c.message) << c.name << ", again";
        EXPECT_EQ(helper.requests(), 0) << c.name;
        EXPECT_FALSE(snapshotExists()) << c.name;
    }
}

// A line that fails, or one the tool claims but does not keep, rolls every saved service back.
TEST_F(SystemProxyManagerIntegration, AFailedOrUnconfirmedLineRollsEverythingBack)
{
    const struct {
        int status;
        QString standardError, message;
    } cases[] = {
        { 1, QStringLiteral("SOCKS 被拒绝"), prefix + QStringLiteral("SOCKS 被拒绝") },
        { 0, QString(), QStringLiteral("系统没有确认全部代理设置。") },
    };
    for (const auto &c : cases) {
        useCustomisedServices();
        const Json before = settings();
        helper.failOn(QStringLiteral("-setsocksfirewallproxy"), c.status, c.standardError, QStringLiteral("Ethernet"));
        EXPECT_EQ(failureOf(manager->enable(7890)), c.message) << c.status;
        EXPECT_EQ(settings(), before) << c.status;
        EXPECT_FALSE(snapshotExists()) << c.status;
    }
}

// A tool that cannot run fails at once; with a journal left by a crash, a start-up whose reads
// cannot run must neither restore blindly nor throw the journal away. An unreachable helper
// keeps the journal for a later repair too.
TEST_F(SystemProxyManagerIntegration, WhatCannotRunOrBeReachedFailsAndKeepsTheSnapshot)
{
    auto broken = makeManager(helper.socketPath(), helper.socketPath() + QStringLiteral(".tool-absent"));
    QElapsedTimer clock;
    clock.start();
    EXPECT_THROW(test::await(broken->enable(7890)), SystemError);
    EXPECT_LT(clock.elapsed(), 1000) << "a launch failure must not wait out any time-out";
    EXPECT_FALSE(snapshotExists());

    test::await(manager->enable(7890));
    EXPECT_THROW(test::await(broken->recoverStaleProxy()), SystemError);
    EXPECT_THROW(test::await(broken->restoreIfNeeded(false)), SystemError);
    EXPECT_TRUE(snapshotExists());
    EXPECT_TRUE(test::await(manager->recoverStaleProxy()));
    EXPECT_FALSE(snapshotExists());

    auto message = failureOf(makeManager(helper.socketPath() + QStringLiteral(".absent"))->enable(7890));
    EXPECT_TRUE(message && message->startsWith(prefix) && message->size() > prefix.size())
        << message.value_or("").toStdString();
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
    test::writeBytes(AppPaths::proxyBackup(), R"({"appliedPort":7890,"services":[{"service":"Wi-Fi"}]})");
    EXPECT_THROW(test::await(manager->recoverStaleProxy()), SystemError) << "a service without its settings";
    test::writeBytes(AppPaths::proxyBackup(), QByteArray(1'048'577, ' '));
    EXPECT_EQ(failureOf(manager->restoreIfNeeded(true)), QString::fromUtf8(AppPaths::oversizeMessage));
    EXPECT_TRUE(snapshotExists());
    EXPECT_TRUE(helper.history().empty());
}
