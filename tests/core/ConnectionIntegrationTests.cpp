// Connect, disconnect, nodes, the kernel's death and the check after wake, with the real kernel,
// helper and tool on loopback.
#include "AppModelTestPeer.h"
#include "ModelWorld.h"

#include "AppPaths.h"
#include "KernelTestSupport.h"

#include <QCoroNetworkReply>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>

#include <algorithm>
#include <csignal>

using namespace veyra;
using namespace veyra::test;

namespace {

const QString lineNotConnected = QStringLiteral("官方线路尚未连通，未修改系统代理。请刷新会员权益或查看诊断日志。");
const QString kernelLost = QStringLiteral("网络核心已异常退出，应用已自动恢复系统网络设置。");
const QString kernelLostStatus = QStringLiteral("网络核心异常退出，系统代理已自动恢复");

class ConnectionIntegration : public ModelWorld {
protected:
    bool notified(const QString &body)
    {
        return eventually([&] { return notificationServer->bodies().join(u'|').contains(body); });
    }
    // A folder where the settings file should be: every write of it fails.
    void breakSettingsFile(bool broken)
    {
        QFile::remove(AppPaths::settings());
        ASSERT_EQ(broken ? QDir().mkpath(AppPaths::settings()) : QDir(AppPaths::settings()).removeRecursively(), true);
    }
};

// Bytes fetched through the local port, as a browser would after the system proxy changed.
QCoro::Task<qsizetype> fetchThroughProxy(QUrl url, quint16 port)
{
    QNetworkAccessManager network;
    network.setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), port));
    QNetworkRequest request(url);
    request.setTransferTimeout(10'000);
    std::unique_ptr<QNetworkReply> reply(network.get(request));
    co_await qCoro(reply.get()).waitForFinished();
    co_return reply->readAll().size();
}

// Stands in for logind on the test's private bus: owns its name and announces sleep and wake.
class FakeLogind {
public:
    FakeLogind() { registered = bus.registerService(QString::fromLatin1(SleepWatcher::serviceName)); }
    ~FakeLogind()
    {
        bus.unregisterService(QString::fromLatin1(SleepWatcher::serviceName));
        QDBusConnection::disconnectFromBus(QStringLiteral("veyra-test-logind"));
    }
    void sleepAndWake()
    {
        for (const bool sleeping : { true, false }) {
            QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(SleepWatcher::objectPath),
                QString::fromLatin1(SleepWatcher::interfaceName), QStringLiteral("PrepareForSleep"));
            bus.send(signal << sleeping);
        }
    }
    QDBusConnection bus = QDBusConnection::connectToBus(
        QString::fromLocal8Bit(qgetenv("DBUS_SESSION_BUS_ADDRESS")), QStringLiteral("veyra-test-logind"));
    bool registered = false;
};

TEST_F(ConnectionIntegration, ConnectsOnlyAfterTheLineCarriesTrafficCountsItAndDisconnectsToTheExactSnapshot)
{
    AppModel &m = connectedModel();
    EXPECT_TRUE(m.isCoreRunning());
    EXPECT_TRUE(everyServicePointsAt(m.settings().mixedPort)) << services().dump();
    ASSERT_EQ(m.nodes().size(), 8);
    EXPECT_EQ(m.nodes()[0].name, QStringLiteral("东京 01"));
    for (const NodeItem &node : m.nodes())
        EXPECT_GT(node.delay, 0) << node.name.toStdString();
    ASSERT_TRUE(notificationsShown(1));
    EXPECT_EQ(notificationServer->shown()[0].title, QStringLiteral("维拉网络助手"));
    EXPECT_EQ(notificationServer->shown()[0].body, QStringLiteral("网络连接已启用"));

    // The provider's own figure (1,000 up and 2,000 down) is taken first, then what goes through.
    ASSERT_TRUE(eventually([&] { return m.observedTrafficUsedBytes().value_or(0) >= 3000; }));
    const qint64 start = *m.observedTrafficUsedBytes();
    ASSERT_EQ(await(fetchThroughProxy(QUrl(check.url("/payload")), static_cast<quint16>(m.settings().mixedPort))),
        512 * 1024);
    EXPECT_TRUE(eventually([&] { return *m.observedTrafficUsedBytes() >= start + 512 * 1024; }, 8000))
        << *m.observedTrafficUsedBytes() - start;
    // The same samples are the published rates: the download shows in the last minute's history.
    EXPECT_TRUE(
        std::ranges::any_of(m.speedHistory(), [](const TrafficRateSample &rate) { return rate.down >= 64 * 1024; }));

    await(m.disconnect());
    EXPECT_EQ(m.statusMessage(), QStringLiteral("已断开，系统代理已恢复"));
    expectRestored(m);
    EXPECT_TRUE(m.nodes().isEmpty());
    EXPECT_FALSE(QFile::exists(AppPaths::config()));
    EXPECT_FALSE(Peer::coreMonitorRunning(m));
    EXPECT_FALSE(Peer::trafficMonitorRunning(m));
    ASSERT_TRUE(notificationsShown(2));
    EXPECT_EQ(notificationServer->bodies().last(), QStringLiteral("连接已断开，原网络设置已恢复"));
    await(m.flushStorage());
    const Membership &membership = *m.user()->membership;
    EXPECT_EQ(TrafficUsageStore::load({ m.user()->account, membership.planId, membership.expiresAt }),
        m.observedTrafficUsedBytes());
}

TEST_F(ConnectionIntegration, GatesOnTheAccountAndTheMembershipBeforeAnythingRuns)
{
    AppModel &m = makeModel();
    int busy = 0;
    const QObject watching; // goes before the counter: the fixture's shutdown still emits
    QObject::connect(&m, &AppModel::isBusyChanged, &watching, [&] { ++busy; });
    simulator->admin(QStringLiteral("membership"), { { "account", member }, { "active", false } });
    await(m.refreshAccount(true));
    ASSERT_FALSE(m.membershipActive());
    await(m.connect());
    EXPECT_EQ(m.selectedPage(), AppPage::membership);
    EXPECT_EQ(m.alertMessage(), QStringLiteral("网络功能仅向有效会员开放，请先开通或续费会员。"));
    EXPECT_FALSE(m.isConnected());

    AppModel signedOut(collaborators(QStringLiteral("/generate_204")));
    signedOut.setAuthenticationMode(AuthenticationMode::registration);
    signedOut.setAuthenticationErrorMessage(QStringLiteral("old"));
    await(signedOut.connect());
    EXPECT_TRUE(signedOut.showAuthentication());
    EXPECT_EQ(signedOut.authenticationMode(), AuthenticationMode::login);
    EXPECT_EQ(signedOut.authenticationErrorMessage(), std::nullopt);
    EXPECT_EQ(signedOut.selectedPage(), AppPage::dashboard);
    EXPECT_EQ(busy, 0);
    EXPECT_FALSE(Peer::core(m).isRunning());
    EXPECT_FALSE(QFile::exists(AppPaths::proxyBackup()));

    // A session the service ends reaches a user whose window is closed.
    simulator->admin(QStringLiteral("revoke"), { { "token", Peer::api(m).token().value_or(QString()).toStdString() } });
    await(m.refreshAccount(true));
    EXPECT_TRUE(notified(QStringLiteral("登录状态已过期，请重新登录。")));
    EXPECT_EQ(m.connectionState(), ConnectionState::failed);
}

TEST_F(ConnectionIntegration, ARestoreThatFailsKeepsTheConnectionWatchedAndTheAccountSignedIn)
{
    AppModel &m = connectedModel();
    helper->failOn(QStringLiteral("-setwebproxystate"), 1, QStringLiteral("设置被锁定 token=s3cr3t-value"));
    await(m.disconnect());
    EXPECT_EQ(m.statusMessage(), QStringLiteral("恢复网络设置失败，代理核心仍保持运行"));
    EXPECT_TRUE(m.isConnected());
    EXPECT_TRUE(m.isCoreRunning());
    EXPECT_TRUE(Peer::core(m).isRunning());
    EXPECT_TRUE(Peer::coreMonitorRunning(m));
    EXPECT_TRUE(Peer::trafficMonitorRunning(m)) << "traffic would stop counting while still connected";
    // The platform's text reaches the alert, the log and the notification masked.
    EXPECT_TRUE(m.alertMessage().value_or(QString()).contains(QStringLiteral("设置被锁定 token=***")));
    EXPECT_TRUE(notified(QStringLiteral("设置被锁定 token=***")));
    EXPECT_FALSE(notificationServer->bodies().join(u'|').contains(QStringLiteral("s3cr3t")));
    EXPECT_TRUE(diagnosticLog().contains(QStringLiteral("设置被锁定 token=***")));
    EXPECT_FALSE(diagnosticLog().contains(QStringLiteral("s3cr3t")));
    m.setAlertMessage(QStringLiteral("失败：password=hunter2"));
    EXPECT_EQ(m.alertMessage(), QStringLiteral("失败：password=***"));

    // Signing out needs the network stopped first: refused while it cannot be.
    await(m.logout());
    EXPECT_EQ(m.alertMessage(), QStringLiteral("网络连接尚未安全停止，为保护系统网络状态，本次未退出账号。"));
    EXPECT_TRUE(m.user());
    EXPECT_TRUE(m.officialLineReady());
    EXPECT_TRUE(Peer::api(m).token());
    EXPECT_TRUE(m.isConnected());

    // Once the settings can be restored, signing out disconnects first and then ends the session.
    helper->clearFailures();
    await(m.logout());
    EXPECT_FALSE(m.user());
    EXPECT_EQ(m.statusMessage(), QStringLiteral("已退出账号"));
    expectRestored(m);
}

TEST_F(ConnectionIntegration, AMembershipEndingWhileConnectedDisconnectsAtItsMoment)
{
    AppModel &m = connectedModel();
    const auto membership = [&](nlohmann::json fields) {
        fields["account"] = member;
        simulator->admin(QStringLiteral("membership"), fields);
    };
    // Far away: armed without overflowing the timer.
    membership({ { "expiresAt", "2031-01-01T00:00:00Z" } });
    await(m.refreshAccount(true));
    EXPECT_TRUE(Peer::accessExpiryArmed(m));

    // Two seconds away; when the moment comes the service no longer calls it active.
    membership({ { "expiresAt", QDateTime::currentDateTimeUtc().addSecs(2).toString(Qt::ISODate).toStdString() } });
    await(m.refreshAccount(true));
    ASSERT_TRUE(Peer::accessExpiryArmed(m));
    membership({ { "active", false } });
    EXPECT_TRUE(m.isConnected());
    EXPECT_TRUE(eventually([&] { return !m.isConnected(); }, 8000));
    EXPECT_FALSE(m.membershipActive());
    EXPECT_EQ(m.selectedPage(), AppPage::membership);
    EXPECT_FALSE(m.officialLineReady());
    EXPECT_TRUE(eventually([&] { return m.statusMessage() == QStringLiteral("已断开，系统代理已恢复"); }));
    expectRestored(m);

    // Signing out stops the timer.
    membership({ { "active", true }, { "expiresAt", "2031-01-01T00:00:00Z" } });
    await(m.refreshAccount(true));
    ASSERT_TRUE(Peer::accessExpiryArmed(m));
    await(m.logout());
    EXPECT_FALSE(Peer::accessExpiryArmed(m));
}

TEST_F(ConnectionIntegration, AConnectThatFailsBeforeItIsConnectedLeavesEverythingAsItWas)
{
    const struct {
        const char *name;
        const char *checkPath;
        std::function<void(AppModel &)> breakIt;
        QString alert; // what the alert must contain
    } cases[] = {
        { "LineCarriesNothing", "/moved", [](AppModel &) {}, lineNotConnected },
        { "KernelDiesDuringTheCheck", "/generate_204",
            [](AppModel &m) {
                QObject::connect(&m, &AppModel::statusMessageChanged, &m, [&m] {
                    if (m.statusMessage() == QStringLiteral("正在检查线路可用性…"))
                        ::kill(static_cast<pid_t>(Peer::core(m).processId()), SIGKILL);
                });
            },
            QString() },
        // The second service refuses to turn its SOCKS proxy on after the first was changed.
        { "ASecondServiceRefusesItsChange", "/generate_204",
            [this](AppModel &) {
                nlohmann::json state = helper->state();
                state["failures"].push_back({ { "verb", "-setsocksfirewallproxystate" }, { "service", "Ethernet" },
                    { "lastArgument", "on" }, { "status", 1 }, { "stderr", "SOCKS 被策略禁止" } });
                helper->setState(state);
            },
            QStringLiteral("SOCKS 被策略禁止") },
        { "NoHelperAtAll", "/generate_204", [this](AppModel &) { helper.reset(); }, QString() },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        AppModel &m = makeModel(QLatin1String(c.checkPath));
        const int helperRequests = helper->requests();
        c.breakIt(m);
        await(m.connect());
        EXPECT_EQ(m.statusMessage(), QStringLiteral("连接失败"));
        EXPECT_TRUE(m.alertMessage().value_or(QString()).contains(c.alert))
            << m.alertMessage().value_or(QString()).toStdString();
        EXPECT_FALSE(m.isBusy());
        EXPECT_FALSE(QFile::exists(AppPaths::config()));
        EXPECT_EQ(m.connectionState(), ConnectionState::failed);
        if (!helper) { // with no helper nothing could have been changed, nor can it be read
            helper = std::make_unique<HelperHarness>();
            continue;
        }
        expectRestored(m);
        if (c.alert == lineNotConnected) {
            EXPECT_EQ(helper->requests(), helperRequests) << "the helper was asked although the line carried nothing";
            EXPECT_TRUE(diagnosticLog().contains(lineNotConnected));
            EXPECT_TRUE(notified(lineNotConnected));
        }
    }
}

TEST_F(ConnectionIntegration, AConnectStartedWhileTheMonitorRestoresWinsOverTheStaleMonitor)
{
    AppModel &m = connectedModel();
    // The kernel dies; the monitor's restore waits in the helper while the user connects again.
    helper->hold();
    ::kill(static_cast<pid_t>(Peer::core(m).processId()), SIGKILL);
    ASSERT_TRUE(eventually([&] { return helper->waitingRequests() == 1; }, 5000));
    EXPECT_FALSE(m.isConnected());
    QObject::connect(&m, &AppModel::statusMessageChanged, &m, [&] {
        if (m.statusMessage() == QStringLiteral("正在检查线路可用性…"))
            helper->release();
    });
    await(m.connect());
    await(m.flushStorage()); // every step the old monitor could still take has had its turn
    EXPECT_TRUE(m.isConnected());
    EXPECT_TRUE(Peer::core(m).isRunning()) << "the stale monitor stopped the new kernel";
    EXPECT_TRUE(m.statusMessage().startsWith(QStringLiteral("已安全连接 · "))) << m.statusMessage().toStdString();
    EXPECT_TRUE(everyServicePointsAt(m.settings().mixedPort)) << services().dump();
    EXPECT_TRUE(QFile::exists(AppPaths::config()));
}

TEST_F(ConnectionIntegration, AKernelDyingAfterTheProxyWasAppliedEndsTheConnectQuietly)
{
    AppModel &m = makeModel();
    QStringList statuses;
    const QObject watching; // goes before `statuses`: the fixture's shutdown still emits
    QObject::connect(&m, &AppModel::statusMessageChanged, &watching, [&] { statuses.append(m.statusMessage()); });
    // The kernel dies as the proxy is applied, and the model sees it end before the connect takes
    // its next step; otherwise the step could outrun the news and the case would prove nothing.
    QObject::connect(&m, &AppModel::isConnectedChanged, &m, [&m] {
        if (!m.isConnected())
            return;
        killKernelNow(Peer::core(m).processId());
        EXPECT_TRUE(eventually([&m] { return !Peer::core(m).isRunning(); }, 5000));
    });
    await(m.connect());
    EXPECT_TRUE(eventually([&] { return m.alertMessage().has_value(); }, 6000));
    EXPECT_FALSE(m.isBusy());
    EXPECT_EQ(m.statusMessage(), kernelLostStatus);
    expectRestored(m);
    for (const QString &status : statuses)
        EXPECT_FALSE(status.startsWith(QStringLiteral("已安全连接"))) << statuses.join(u'|').toStdString();
    EXPECT_FALSE(notificationServer->bodies().contains(QStringLiteral("网络连接已启用")));
}

// The kernel first, the settings file second, and the kernel put back when the file cannot be
// written; a node that is gone falls back to the automatic choice.
TEST_F(ConnectionIntegration, NodeChoiceReachesTheKernelAndTheSettingsFile)
{
    AppSettings settings = freeSettings();
    settings.smartSelection = false;
    settings.selectedNode = QStringLiteral("已下线节点");
    AppModel &m = connectedModel(settings);
    EXPECT_TRUE(m.settings().smartSelection);
    EXPECT_TRUE(m.settings().selectedNode.isEmpty());
    EXPECT_EQ(selectedInKernel(), QStringLiteral("智能优选"));
    EXPECT_TRUE(await(Peer::settingsStore(m).loadSettings()).smartSelection);
    EXPECT_EQ(m.statusMessage(), QStringLiteral("已安全连接 · 智能优选"));
    EXPECT_EQ(m.alertMessage(), std::nullopt);

    await(m.selectNode(m.nodes()[1]));
    EXPECT_EQ(selectedInKernel(), QStringLiteral("Hong Kong 02"));
    EXPECT_EQ(m.settings().selectedNode, QStringLiteral("Hong Kong 02"));
    EXPECT_FALSE(m.settings().smartSelection);
    EXPECT_EQ(m.statusMessage(), QStringLiteral("已选择并同步 Hong Kong 02"));
    EXPECT_EQ(m.selectingNodeName(), std::nullopt);
    EXPECT_EQ(await(Peer::settingsStore(m).loadSettings()), m.settings());
    EXPECT_EQ(m.activeNodeName(), QStringLiteral("Hong Kong 02"));

    breakSettingsFile(true);
    await(m.selectNode(m.nodes()[0]));
    EXPECT_EQ(selectedInKernel(), QStringLiteral("Hong Kong 02"));
    EXPECT_EQ(m.settings().selectedNode, QStringLiteral("Hong Kong 02"));
    EXPECT_TRUE(m.alertMessage().has_value());
    EXPECT_EQ(m.selectingNodeName(), std::nullopt);
    breakSettingsFile(false);

    m.setAlertMessage(std::nullopt);
    await(m.setSmartSelection(true));
    EXPECT_EQ(selectedInKernel(), QStringLiteral("智能优选"));
    EXPECT_TRUE(m.settings().smartSelection);
    EXPECT_TRUE(m.settings().selectedNode.isEmpty());
    EXPECT_EQ(m.statusMessage(), QStringLiteral("已启用智能优选"));

    await(m.testAllNodes());
    EXPECT_EQ(m.statusMessage(), QStringLiteral("线路测速完成"));
    EXPECT_FALSE(m.isTesting());
    for (const NodeItem &node : m.nodes())
        EXPECT_GT(node.delay, 0);

    // While connected no settings are imported.
    const AppSettings current = m.settings();
    AppPaths::write(freeSettings().toJson(), fixtures.filePath(QStringLiteral("other.json")));
    await(m.importSettings(fixtures.filePath(QStringLiteral("other.json"))));
    EXPECT_EQ(m.alertMessage(), QStringLiteral("请先断开连接，再导入端口与网络设置。"));
    EXPECT_EQ(m.settings(), current);

    // The user changed a proxy by hand meanwhile; repair still restores every saved service.
    helper->userRuns({ QStringLiteral("-setwebproxy"), QStringLiteral("Wi-Fi"), QStringLiteral("proxy.lan"),
        QStringLiteral("3128") });
    await(m.repairNetworkSettings());
    EXPECT_EQ(m.statusMessage(), QStringLiteral("网络设置修复完成"));
    expectRestored(m);
}

TEST_F(ConnectionIntegration, TheProxyModeChangesInTheKernelOrWaitsForTheNextConnect)
{
    AppModel &m = makeModel();
    const auto mode = [&] { return kernelValue(QStringLiteral("configs"), QStringLiteral("mode")); };
    // A failure stays on the tray until the next connect.
    check.route("/generate_204", { 503, {}, {} });
    await(m.connect());
    ASSERT_EQ(m.connectionState(), ConnectionState::failed);
    check.route("/generate_204", { 204, {}, {} });
    await(m.updateProxyMode(ConnectionMode::global));
    EXPECT_EQ(m.statusMessage(), QStringLiteral("已设为全局 · 下次连接时生效"));
    EXPECT_EQ(await(Peer::settingsStore(m).loadSettings()).proxyMode, ConnectionMode::global);
    EXPECT_EQ(m.connectionState(), ConnectionState::failed);

    // Other workflows keep isBusy too; only a connect or a disconnect counts as connecting.
    QList<ConnectionState> seen;
    const QObject watching; // goes before `seen`: the fixture's shutdown still emits
    QObject::connect(&m, &AppModel::stateChanged, &watching, [&] { seen.append(m.connectionState()); });
    await(m.connect());
    ASSERT_TRUE(m.isConnected()) << m.alertMessage().value_or(QString()).toStdString();
    EXPECT_TRUE(seen.contains(ConnectionState::connecting));
    EXPECT_EQ(m.connectionState(), ConnectionState::connected);
    EXPECT_EQ(mode(), QStringLiteral("global"));
    seen.clear();
    await(m.updateProxyMode(ConnectionMode::direct));
    EXPECT_FALSE(seen.contains(ConnectionState::connecting));
    EXPECT_EQ(mode(), QStringLiteral("direct"));
    EXPECT_EQ(m.statusMessage(), QStringLiteral("已切换到直连"));

    // A mode that cannot be saved is taken back in the kernel too.
    breakSettingsFile(true);
    await(m.updateProxyMode(ConnectionMode::rule));
    EXPECT_EQ(mode(), QStringLiteral("direct"));
    EXPECT_EQ(m.settings().proxyMode, ConnectionMode::direct);
    EXPECT_TRUE(m.alertMessage().has_value());
    breakSettingsFile(false);
}

// A kernel killed while connected, or a connection found broken after the machine wakes (told by
// logind's signal, or the check called on its own), is noticed, reported and the system proxy put back.
TEST_F(ConnectionIntegration, ALostConnectionIsEndedLikeADeadKernel)
{
    FakeLogind logind;
    ASSERT_TRUE(logind.registered);
    enum Wake { none, check, announced };
    const struct {
        const char *name;
        std::function<void(AppModel &)> breakIt; // what happened (during the sleep)
        Wake wake;
    } cases[] = {
        { "KilledWhileAwake", [](AppModel &m) { ::kill(static_cast<pid_t>(Peer::core(m).processId()), SIGKILL); },
            none },
        { "Healthy", [](AppModel &) {}, check },
        { "KernelDead", [](AppModel &m) { killKernelNow(Peer::core(m).processId()); }, check },
        // The kernel runs but nothing gets through it any more.
        { "LineFailing",
            [this](AppModel &) {
                ModelWorld::check.route("/generate_204", { 503, {}, {} });
            },
            announced },
        // Someone else turned one of our proxies off while the machine slept.
        { "SettingsChanged",
            [this](AppModel &) {
                helper->userRuns(
                    { QStringLiteral("-setsocksfirewallproxystate"), QStringLiteral("Wi-Fi"), QStringLiteral("off") });
            },
            check },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ModelWorld::check.route("/generate_204", { 204, {}, {} });
        AppModel &m = connectedModel();
        const qint64 kernel = Peer::core(m).processId();
        const QString status = m.statusMessage();
        const int logged = diagnosticLog().count(kernelLost);
        const qsizetype shown = notificationServer->bodies().count(kernelLost);
        c.breakIt(m);
        if (c.wake == announced) {
            logind.sleepAndWake();
        } else if (c.wake == check) {
            await(Peer::checkAfterWake(m));
        } else {
            // The monitor looks every two seconds, and at once when the kernel's process ends.
            EXPECT_TRUE(eventually([&] { return !m.isConnected(); }, 1500)) << "noticed only by the periodic check";
        }
        if (std::string_view(c.name) == "Healthy") {
            EXPECT_TRUE(m.isConnected());
            EXPECT_EQ(Peer::core(m).processId(), kernel);
            EXPECT_EQ(m.statusMessage(), status);
            EXPECT_EQ(m.alertMessage(), std::nullopt);
            EXPECT_TRUE(Peer::coreMonitorRunning(m));
            EXPECT_TRUE(everyServicePointsAt(m.settings().mixedPort));
            continue;
        }
        ASSERT_TRUE(eventually([&] { return !Peer::coreMonitorRunning(m) && m.alertMessage(); }, 20000));
        expectRestored(m);
        EXPECT_EQ(m.alertMessage(), kernelLost);
        EXPECT_TRUE(eventually([&] { return m.statusMessage() == kernelLostStatus; }));
        EXPECT_TRUE(m.nodes().isEmpty());
        EXPECT_FALSE(Peer::trafficMonitorRunning(m));
        // Handled once, whichever of the core monitor and the wake check saw it first.
        EXPECT_EQ(diagnosticLog().count(kernelLost), logged + 1);
        EXPECT_TRUE(eventually([&] { return notificationServer->bodies().count(kernelLost) == shown + 1; }));
        // The tray shows the failure until its alert is seen.
        EXPECT_EQ(m.connectionState(), ConnectionState::failed);
        m.setAlertMessage(std::nullopt);
        EXPECT_EQ(m.connectionState(), ConnectionState::disconnected);
    }
}

} // namespace
