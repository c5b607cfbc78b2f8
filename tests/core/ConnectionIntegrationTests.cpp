// Connect, disconnect and the kernel's death, with the real kernel, helper and tool on loopback.
#include "AppModelTestPeer.h"
#include "ModelWorld.h"

#include "AppPaths.h"
#include "KernelTestSupport.h"

#include <QCoroNetworkReply>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>

#include <csignal>
#include <fstream>
#include <unistd.h>

using namespace veyra;
using namespace veyra::test;

namespace {

class ConnectionIntegration : public ModelWorld {
public:
    using ModelWorld::helper;
};

const QString lineNotConnected = QStringLiteral("官方线路尚未连通，未修改系统代理。请刷新会员权益或查看诊断日志。");

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

TEST_F(ConnectionIntegration, ConnectsOnlyAfterTheLineCarriesTrafficCountsItAndDisconnectsToTheExactSnapshot)
{
    AppModel &m = makeModel();
    const nlohmann::json before = services();

    await(m.connect());
    EXPECT_EQ(m.statusMessage(), QStringLiteral("已安全连接 · 智能优选"));
    EXPECT_EQ(m.alertMessage(), std::nullopt);
    EXPECT_TRUE(m.isConnected());
    EXPECT_TRUE(m.isCoreRunning());
    EXPECT_FALSE(m.isBusy());
    EXPECT_TRUE(everyServicePointsAt(m.settings().mixedPort)) << services().dump();
    EXPECT_TRUE(Peer::coreMonitorRunning(m));
    EXPECT_TRUE(Peer::trafficMonitorRunning(m));
    ASSERT_EQ(m.nodes().size(), 8);
    EXPECT_EQ(m.nodes()[0].name, QStringLiteral("东京 01"));
    for (const NodeItem &node : m.nodes())
        EXPECT_GT(node.delay, 0) << node.name.toStdString();
    EXPECT_EQ(m.connectionQualityText().left(2), QStringLiteral("优秀"));
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
    qint64 fastest = 0;
    for (const TrafficRateSample &rate : m.speedHistory())
        fastest = std::max(fastest, rate.down);
    EXPECT_GE(fastest, 64 * 1024);

    await(m.disconnect());
    EXPECT_EQ(m.statusMessage(), QStringLiteral("已断开，系统代理已恢复"));
    EXPECT_FALSE(m.isConnected());
    EXPECT_FALSE(m.isCoreRunning());
    EXPECT_TRUE(m.nodes().isEmpty());
    EXPECT_EQ(services(), before);
    EXPECT_FALSE(QFile::exists(AppPaths::proxyBackup()));
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

    m.setAlertMessage(std::nullopt);
    AppModel signedOut(collaborators(QStringLiteral("/generate_204")));
    signedOut.setAuthenticationMode(AuthenticationMode::registration);
    signedOut.setAuthenticationErrorMessage(QStringLiteral("old"));
    await(signedOut.connect());
    EXPECT_TRUE(signedOut.showAuthentication());
    EXPECT_EQ(signedOut.authenticationMode(), AuthenticationMode::login);
    EXPECT_EQ(signedOut.authenticationErrorMessage(), std::nullopt);
    EXPECT_EQ(signedOut.statusMessage(), QStringLiteral("正在初始化…"));
    EXPECT_EQ(signedOut.selectedPage(), AppPage::dashboard);
    EXPECT_EQ(busy, 0);
    EXPECT_FALSE(Peer::core(m).isRunning());
    EXPECT_FALSE(QFile::exists(AppPaths::proxyBackup()));
}

TEST_F(ConnectionIntegration, AKernelKilledWhileConnectedIsNoticedAndTheSystemProxyPutBack)
{
    AppModel &m = makeModel();
    const nlohmann::json before = services();
    await(m.connect());
    ASSERT_TRUE(m.isConnected());
    const qint64 pid = Peer::core(m).processId();
    ASSERT_GT(pid, 0);
    ::kill(static_cast<pid_t>(pid), SIGKILL);

    // The monitor looks every two seconds, and at once when the kernel's process ends.
    EXPECT_TRUE(eventually([&] { return !m.isConnected(); }, 1500)) << "noticed only by the periodic check";
    EXPECT_TRUE(eventually([&] { return !m.isConnected() && m.alertMessage().has_value(); }, 6000));
    EXPECT_EQ(m.alertMessage(), QStringLiteral("网络核心已异常退出，应用已自动恢复系统网络设置。"));
    EXPECT_TRUE(
        eventually([&] { return m.statusMessage() == QStringLiteral("网络核心异常退出，系统代理已自动恢复"); }));
    EXPECT_FALSE(m.isCoreRunning());
    EXPECT_TRUE(m.nodes().isEmpty());
    EXPECT_EQ(services(), before);
    EXPECT_FALSE(QFile::exists(AppPaths::proxyBackup()));
    EXPECT_FALSE(Peer::trafficMonitorRunning(m));
}

TEST_F(ConnectionIntegration, ARestoreThatFailsKeepsTheConnectionWatchedAndTheAccountSignedIn)
{
    AppModel &m = makeModel();
    const nlohmann::json before = services();
    await(m.connect());
    ASSERT_TRUE(m.isConnected());

    helper->failOn(QStringLiteral("-setwebproxystate"), 1, QStringLiteral("设置被锁定"));
    await(m.disconnect());
    EXPECT_EQ(m.statusMessage(), QStringLiteral("恢复网络设置失败，代理核心仍保持运行"));
    EXPECT_TRUE(m.isConnected());
    EXPECT_TRUE(m.isCoreRunning());
    EXPECT_TRUE(Peer::core(m).isRunning());
    EXPECT_TRUE(Peer::coreMonitorRunning(m));
    EXPECT_TRUE(Peer::trafficMonitorRunning(m)) << "traffic would stop counting while still connected";
    EXPECT_FALSE(m.isBusy());
    EXPECT_TRUE(m.alertMessage().value_or(QString()).contains(QStringLiteral("设置被锁定")));

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
    EXPECT_FALSE(m.isConnected());
    EXPECT_FALSE(Peer::core(m).isRunning());
    EXPECT_EQ(m.statusMessage(), QStringLiteral("已退出账号"));
    EXPECT_EQ(services(), before);
}

TEST_F(ConnectionIntegration, AMembershipEndingWhileConnectedDisconnectsAtItsMoment)
{
    AppModel &m = makeModel();
    const nlohmann::json before = services();
    await(m.connect());
    ASSERT_TRUE(m.isConnected());

    // Far away: armed without overflowing the timer.
    simulator->admin(QStringLiteral("membership"), { { "account", member }, { "expiresAt", "2031-01-01T00:00:00Z" } });
    await(m.refreshAccount(true));
    EXPECT_TRUE(Peer::accessExpiryArmed(m));

    // Two seconds away; when the moment comes the service no longer calls it active.
    const QDateTime soon = QDateTime::currentDateTimeUtc().addSecs(2);
    simulator->admin(QStringLiteral("membership"),
        { { "account", member }, { "expiresAt", soon.toString(Qt::ISODate).toStdString() } });
    await(m.refreshAccount(true));
    ASSERT_TRUE(Peer::accessExpiryArmed(m));
    simulator->admin(QStringLiteral("membership"), { { "account", member }, { "active", false } });
    EXPECT_TRUE(m.isConnected());
    EXPECT_TRUE(eventually([&] { return !m.isConnected(); }, 8000));
    EXPECT_FALSE(m.membershipActive());
    EXPECT_EQ(m.selectedPage(), AppPage::membership);
    EXPECT_FALSE(m.officialLineReady());
    EXPECT_TRUE(eventually([&] { return m.statusMessage() == QStringLiteral("已断开，系统代理已恢复"); }));
    EXPECT_EQ(services(), before);

    // Signing out stops the timer.
    simulator->admin(QStringLiteral("membership"),
        { { "account", member }, { "active", true }, { "expiresAt", "2031-01-01T00:00:00Z" } });
    await(m.refreshAccount(true));
    ASSERT_TRUE(Peer::accessExpiryArmed(m));
    await(m.logout());
    EXPECT_FALSE(Peer::accessExpiryArmed(m));
}

TEST_F(ConnectionIntegration, AConnectThatFailsBeforeItIsConnectedLeavesEverythingAsItWas)
{
    struct Case {
        const char *name;
        const char *checkPath;
        std::function<void(ConnectionIntegration &, AppModel &)> breakIt;
        QString alert; // what the alert must contain
    };
    const Case cases[] = {
        { "LineCarriesNothing", "/moved", [](ConnectionIntegration &, AppModel &) {}, lineNotConnected },
        // The kernel goes away while the line is being checked.
        { "KernelDiesDuringTheCheck", "/generate_204",
            [](ConnectionIntegration &, AppModel &m) {
                QObject::connect(&m, &AppModel::statusMessageChanged, &m, [&m] {
                    if (m.statusMessage() == QStringLiteral("正在检查线路可用性…"))
                        ::kill(static_cast<pid_t>(Peer::core(m).processId()), SIGKILL);
                });
            },
            QString() },
        // The second service refuses to turn its SOCKS proxy on after the first was already
        // changed (turning it off again works).
        { "ASecondServiceRefusesItsChange", "/generate_204",
            [](ConnectionIntegration &world, AppModel &) {
                nlohmann::json state = world.helper->state();
                state["failures"].push_back({ { "verb", "-setsocksfirewallproxystate" }, { "service", "Ethernet" },
                    { "lastArgument", "on" }, { "status", 1 }, { "stderr", "SOCKS 被策略禁止" } });
                world.helper->setState(state);
            },
            QStringLiteral("SOCKS 被策略禁止") },
        { "NoHelperAtAll", "/generate_204", [](ConnectionIntegration &world, AppModel &) { world.helper.reset(); },
            QString() },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        AppModel &m = makeModel(QLatin1String(c.checkPath));
        const nlohmann::json before = services();
        const int helperRequests = helper->requests();
        c.breakIt(*this, m);
        await(m.connect());
        EXPECT_EQ(m.statusMessage(), QStringLiteral("连接失败"));
        EXPECT_TRUE(m.alertMessage().value_or(QString()).contains(c.alert))
            << m.alertMessage().value_or(QString()).toStdString();
        EXPECT_FALSE(m.isConnected());
        EXPECT_FALSE(m.isCoreRunning());
        EXPECT_FALSE(m.isBusy());
        EXPECT_FALSE(Peer::core(m).isRunning());
        EXPECT_FALSE(QFile::exists(AppPaths::config()));
        if (!helper) { // with no helper nothing could have been changed, nor can it be read
            helper = std::make_unique<HelperHarness>();
            continue;
        }
        EXPECT_EQ(services(), before);
        EXPECT_FALSE(QFile::exists(AppPaths::proxyBackup()));
        if (c.alert == lineNotConnected) {
            EXPECT_EQ(helper->requests(), helperRequests) << "the helper was asked although the line carried nothing";
            EXPECT_TRUE(diagnosticLog().contains(lineNotConnected));
        }
    }
}

TEST_F(ConnectionIntegration, AConnectStartedWhileTheMonitorRestoresWinsOverTheStaleMonitor)
{
    AppModel &m = makeModel();
    await(m.connect());
    ASSERT_TRUE(m.isConnected());

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
    // Every step the old monitor could still take has had its turn.
    await(m.flushStorage());
    EXPECT_TRUE(m.isConnected());
    EXPECT_TRUE(Peer::core(m).isRunning()) << "the stale monitor stopped the new kernel";
    EXPECT_TRUE(m.statusMessage().startsWith(QStringLiteral("已安全连接 · "))) << m.statusMessage().toStdString();
    EXPECT_TRUE(everyServicePointsAt(m.settings().mixedPort)) << services().dump();
    EXPECT_TRUE(QFile::exists(AppPaths::config()));
}

TEST_F(ConnectionIntegration, AKernelDyingAfterTheProxyWasAppliedEndsTheConnectQuietly)
{
    AppModel &m = makeModel();
    const nlohmann::json before = services();
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
    EXPECT_FALSE(m.isConnected());
    EXPECT_FALSE(m.isBusy());
    EXPECT_EQ(m.statusMessage(), QStringLiteral("网络核心异常退出，系统代理已自动恢复"));
    EXPECT_EQ(services(), before);
    for (const QString &status : statuses)
        EXPECT_FALSE(status.startsWith(QStringLiteral("已安全连接"))) << statuses.join(u'|').toStdString();
    EXPECT_FALSE(notificationServer->bodies().contains(QStringLiteral("网络连接已启用")));
}

} // namespace
