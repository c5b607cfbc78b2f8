// Start-up against the simulator and a private keyring, and the settings operations.
#include "AppModelTestPeer.h"
#include "ServiceWorld.h"

#include "AppPaths.h"
#include "InstallationIdentity.h"
#include "NotificationServer.h"
#include "SessionIdentityStore.h"
#include "SysproxyTestSupport.h"

#include <QDir>
#include <QFile>

using namespace veyra;
using namespace veyra::test;

namespace {

class StartupIntegration : public ServiceWorld {
protected:
    UserDefaults defaults() const { return UserDefaults(fixtures.filePath(QStringLiteral("defaults.ini"))); }
    // This installation has run before.
    void notTheFirstRun() const { InstallationIdentity::consumeCurrentInstallation(defaults()); }
    void saveSettings(const AppSettings &settings) const
    {
        AppPaths::prepare();
        AppPaths::write(settings.toJson(), AppPaths::settings());
    }
};

TEST_F(StartupIntegration, AFirstRunClearsAnOldSessionAndAsksToRegister)
{
    keychain().save(QStringLiteral("left-by-an-earlier-installation"), sessionAccount);
    await(model->bootstrap());
    EXPECT_FALSE(storedToken());
    EXPECT_FALSE(model->user());
    EXPECT_TRUE(model->showAuthentication());
    EXPECT_EQ(model->authenticationMode(), AuthenticationMode::registration);
    EXPECT_EQ(model->statusMessage(), QStringLiteral("准备就绪"));
    EXPECT_FALSE(model->isBusy());
    EXPECT_TRUE(diagnosticLog().contains(QStringLiteral("检测到本机首次使用，已清除残留会话并进入注册界面。")));
    EXPECT_EQ(model->plans().size(), 4);

    // A second call does nothing at all.
    model->setShowAuthentication(false);
    await(model->bootstrap());
    EXPECT_FALSE(model->showAuthentication());
}

TEST_F(StartupIntegration, ASavedTokenWithoutANameWaitsOutAnOutageSignedIn)
{
    notTheFirstRun();
    const QString token = simulator.signedInToken(QString::fromLatin1(member), true);
    keychain().save(token, sessionAccount);
    simulator.fault(QStringLiteral("/api/v1/me"), { { "status", 503 } });
    await(model->bootstrap());
    ASSERT_TRUE(model->user());
    EXPECT_EQ(model->user()->account, QStringLiteral("已保存登录"));
    EXPECT_EQ(model->statusMessage(), QStringLiteral("登录状态已保留，会员权益等待网络恢复后同步"));
    EXPECT_EQ(storedToken(), token);
    EXPECT_FALSE(model->showAuthentication());
    EXPECT_EQ(model->alertMessage(), std::nullopt);
}

TEST_F(StartupIntegration, ARejectedTokenAtStartSignsOutQuietly)
{
    notTheFirstRun();
    keychain().save(QStringLiteral("revoked-long-ago"), sessionAccount);
    SessionIdentityStore::saveAccount(QString::fromLatin1(member));
    await(model->bootstrap());
    EXPECT_FALSE(model->user());
    EXPECT_EQ(model->statusMessage(), QStringLiteral("需要重新登录"));
    EXPECT_TRUE(model->showAuthentication());
    EXPECT_EQ(model->authenticationMode(), AuthenticationMode::login);
    EXPECT_EQ(model->authenticationErrorMessage(), QStringLiteral("登录状态已过期，请重新登录"));
    EXPECT_EQ(model->alertMessage(), std::nullopt);
}

TEST_F(StartupIntegration, AutoConnectNeedsTheOfficialLine)
{
    notTheFirstRun();
    AppSettings settings;
    settings.autoConnect = true;
    saveSettings(settings);
    // Signed in, but without a membership: no line, so no connection is attempted.
    keychain().save(simulator.signedInToken(QString::fromLatin1(member), false), sessionAccount);
    await(model->bootstrap());
    EXPECT_TRUE(model->settings().autoConnect);
    EXPECT_FALSE(model->officialLineReady());
    EXPECT_FALSE(model->isCoreRunning());
    EXPECT_EQ(model->statusMessage(), QStringLiteral("准备就绪"));
    EXPECT_EQ(model->selectedPage(), AppPage::membership);
}

TEST_F(StartupIntegration, ARepairedCrashIsStillReportedWhenStartUpEnds)
{
    notTheFirstRun();
    HelperHarness helper;
    // An earlier run pointed the services at its kernel and then crashed.
    SystemProxyManager crashed(
        QStringLiteral(VEYRA_NETWORKSETUP_EXECUTABLE), std::make_unique<PrivilegedProxyClient>(helper.socketPath()));
    await(crashed.enable(7890));
    ASSERT_TRUE(QFile::exists(AppPaths::proxyBackup()));

    WorldSeams withHelper = seams();
    withHelper.helperSocket = helper.socketPath();
    withHelper.networkSetup = QStringLiteral(VEYRA_NETWORKSETUP_EXECUTABLE);
    AppModel restarted(collaboratorsFor(withHelper));
    await(restarted.bootstrap());
    EXPECT_EQ(restarted.statusMessage(), QStringLiteral("已恢复上次异常退出前的网络设置"));
    EXPECT_FALSE(QFile::exists(AppPaths::proxyBackup()));
    EXPECT_EQ(helper.state()["services"][0]["web"]["enabled"], false);
    EXPECT_TRUE(restarted.showAuthentication());
}

TEST_F(StartupIntegration, AFailedStepStopsStartUpButStillOffersSignIn)
{
    notTheFirstRun();
    // A plain file where the data folder should be: nothing can be prepared.
    QDir(root()).removeRecursively();
    test::writeBytes(root(), "not a folder");
    await(model->bootstrap());
    EXPECT_EQ(model->statusMessage(), QStringLiteral("需要处理后再连接"));
    EXPECT_TRUE(model->alertMessage().has_value());
    EXPECT_TRUE(model->showAuthentication());
    EXPECT_EQ(model->authenticationMode(), AuthenticationMode::registration);
    EXPECT_FALSE(model->isBusy());
    EXPECT_TRUE(requestsTo("/api/v1/plans").isEmpty());
    QFile::remove(root());
}

TEST_F(StartupIntegration, SettingsGoOutWithoutSecretsAndComeInOnlyWhenValid)
{
    await(model->login(QString::fromLatin1(member), QStringLiteral("password123"), true));
    const QString exported = fixtures.filePath(QStringLiteral("维拉网络助手-设置.json"));
    await(model->exportSettings(exported));
    EXPECT_EQ(model->statusMessage(), QStringLiteral("安全设置已导出"));
    EXPECT_EQ(modeOf(exported), 0600);
    EXPECT_FALSE(readBytes(exported).contains(Peer::api(*model).token().value_or("none").toUtf8()));
    EXPECT_FALSE(readBytes(exported).contains(member));

    // Duplicate ports: refused with the rule's own text, and nothing is written.
    AppSettings duplicate;
    duplicate.socksPort = duplicate.mixedPort;
    AppPaths::write(duplicate.toJson(), fixtures.filePath(QStringLiteral("bad.json")));
    const QByteArray stored = QFile::exists(AppPaths::settings()) ? readBytes(AppPaths::settings()) : QByteArray();
    await(model->importSettings(fixtures.filePath(QStringLiteral("bad.json"))));
    EXPECT_EQ(model->alertMessage(), QStringLiteral("三个网络端口不能重复。"));
    EXPECT_EQ(QFile::exists(AppPaths::settings()) ? readBytes(AppPaths::settings()) : QByteArray(), stored);
    EXPECT_EQ(model->settings(), AppSettings {});
}

TEST_F(StartupIntegration, SwitchesWithEffectsOutsideTheApplication)
{
    await(model->setStartAtLogin(true));
    EXPECT_TRUE(model->settings().startAtLogin);
    EXPECT_TRUE(QFile::exists(fixtures.filePath(QStringLiteral("autostart/net.veyra.networkassistant.desktop"))));
    await(model->setStartAtLogin(false));
    EXPECT_FALSE(model->settings().startAtLogin);
    EXPECT_FALSE(QFile::exists(fixtures.filePath(QStringLiteral("autostart/net.veyra.networkassistant.desktop"))));

    // The folder cannot be made: the switch shows what is really registered, with the reason.
    QDir(fixtures.filePath(QStringLiteral("autostart"))).removeRecursively();
    QFile blocker(fixtures.filePath(QStringLiteral("autostart")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    await(model->setStartAtLogin(true));
    EXPECT_FALSE(model->settings().startAtLogin);
    EXPECT_TRUE(model->alertMessage().value_or(QString()).startsWith(QStringLiteral("无法修改登录启动设置：")));

    // Notifications need a server that answers.
    await(model->setNotifications(true));
    EXPECT_FALSE(model->settings().showNotifications);
    NotificationServer server;
    ASSERT_TRUE(server.registered());
    await(model->setNotifications(true));
    EXPECT_TRUE(model->settings().showNotifications);
    await(model->setAutoConnect(true));
    EXPECT_TRUE(await(Peer::settingsStore(*model).loadSettings()).autoConnect);
    EXPECT_TRUE(await(Peer::settingsStore(*model).loadSettings()).showNotifications);
}

TEST_F(StartupIntegration, SwitchesSaveOnlyTheirOwnFieldAndImportAppliesTheirEffects)
{
    // A half-typed port edit, not saved: a switch neither fails on it nor writes it.
    const AppSettings saved = model->settings();
    model->editPorts(saved.mixedPort, saved.mixedPort, saved.controllerPort);
    await(model->setAutoConnect(true));
    EXPECT_EQ(model->alertMessage(), std::nullopt);
    const AppSettings onDisk = await(Peer::settingsStore(*model).loadSettings());
    EXPECT_TRUE(onDisk.autoConnect);
    EXPECT_EQ(onDisk.socksPort, saved.socksPort);
    EXPECT_EQ(model->settings().socksPort, saved.mixedPort) << "the edit on screen was lost";

    // Imported switches take effect the way a click would: the login item is registered.
    AppSettings file;
    file.startAtLogin = true;
    AppPaths::write(file.toJson(), fixtures.filePath(QStringLiteral("import.json")));
    await(model->importSettings(fixtures.filePath(QStringLiteral("import.json"))));
    EXPECT_TRUE(model->settings().startAtLogin);
    EXPECT_TRUE(QFile::exists(fixtures.filePath(QStringLiteral("autostart/net.veyra.networkassistant.desktop"))));
    EXPECT_TRUE(await(Peer::settingsStore(*model).loadSettings()).startAtLogin);
}

} // namespace
