// The account session and start-up against the service simulator over real TLS and a private
// keyring, and the settings operations.
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
using json::Json;

namespace {

class AccountIntegration : public ServiceWorld {
protected:
    // This installation has run before.
    void notTheFirstRun() const
    {
        InstallationIdentity::consumeCurrentInstallation(
            UserDefaults(fixtures.filePath(QStringLiteral("defaults.ini"))));
    }
    void signInAnswer(const QString &token)
    {
        simulator.fault(QStringLiteral("/api/v1/auth/login"),
            { { "status", 200 }, { "body", Json { { "token", token.toStdString() } }.dump() },
                { "contentType", "application/json" } });
    }
    void login(const char *password = memberPassword, bool registering = false, const char *account = member)
    {
        await(model->login(QString::fromLatin1(account), QString::fromLatin1(password), registering));
    }
    // Signed out without an alert, the sign-in sheet open in login mode.
    void expectSignedOutQuietly()
    {
        EXPECT_FALSE(model->user());
        EXPECT_EQ(model->statusMessage(), QStringLiteral("需要重新登录"));
        EXPECT_TRUE(model->showAuthentication());
        EXPECT_EQ(model->authenticationMode(), AuthenticationMode::login);
        EXPECT_EQ(model->authenticationErrorMessage(), QStringLiteral("登录状态已过期，请重新登录"));
        EXPECT_EQ(model->alertMessage(), std::nullopt);
    }
    QString autostartEntry() const
    {
        return fixtures.filePath(QStringLiteral("autostart/net.veyra.networkassistant.desktop"));
    }
};

TEST_F(AccountIntegration, RegistrationThenMembershipBringsTheLine)
{
    // Checked before anything is sent.
    login("short", true);
    EXPECT_EQ(model->authenticationErrorMessage(), QStringLiteral("密码错误：密码至少 8 位"));
    EXPECT_TRUE(requestsTo("/api/v1/auth/register").isEmpty());

    await(model->login(QStringLiteral(" 13800138000 "), QString::fromLatin1(memberPassword), true));
    ASSERT_TRUE(model->user()) << model->authenticationErrorMessage().value_or(QString()).toStdString();
    EXPECT_EQ(model->user()->account, QString::fromLatin1(member));
    EXPECT_EQ(model->statusMessage(), QStringLiteral("注册成功"));
    EXPECT_EQ(model->authenticationErrorMessage(), std::nullopt);
    EXPECT_FALSE(model->showAuthentication());
    EXPECT_EQ(model->selectedPage(), AppPage::membership);
    EXPECT_FALSE(model->officialLineReady());
    EXPECT_EQ(storedToken(), Peer::api(*model).token());
    EXPECT_EQ(SessionIdentityStore::loadAccount(), QString::fromLatin1(member));
    EXPECT_FALSE(keychain().load(lineAccount));

    // The service grants a membership: the next refresh brings the line, kept only in the keyring.
    simulator.admin(QStringLiteral("membership"), { { "account", member }, { "active", true } });
    await(model->refreshAccount(false));
    EXPECT_TRUE(model->officialLineReady());
    EXPECT_TRUE(keychain()
                    .load(lineAccount)
                    .value_or(QString())
                    .startsWith(QStringLiteral("https://%1:8443/sub/").arg(QLatin1String(ServiceSimulator::lineHost))));
    EXPECT_FALSE(readBytes(AppPaths::sessionIdentity()).contains("sub/"));

    // And takes it away again: the line leaves this computer.
    simulator.admin(QStringLiteral("membership"), { { "account", member }, { "active", false } });
    await(model->refreshAccount(true));
    EXPECT_FALSE(model->officialLineReady());
    EXPECT_FALSE(keychain().load(lineAccount));
    EXPECT_EQ(model->selectedPage(), AppPage::membership);
}

TEST_F(AccountIntegration, ASavedSessionOutlivesAnOutageAndEndsOnlyWhenTheServiceRejectsIt)
{
    notTheFirstRun();
    // A token the service no longer knows, with the account's name: signed out at start.
    keychain().save(QStringLiteral("revoked-long-ago"), sessionAccount);
    SessionIdentityStore::saveAccount(QString::fromLatin1(member));
    await(model->bootstrap());
    expectSignedOutQuietly();

    // A good token without a name waits out an outage signed in.
    model = makeModel();
    const QString token = simulator.signedInToken(QString::fromLatin1(member), true);
    keychain().save(token, sessionAccount);
    simulator.fault(QStringLiteral("/api/v1/me"), { { "status", 503 } });
    await(model->bootstrap());
    ASSERT_TRUE(model->user());
    EXPECT_EQ(model->user()->account, QStringLiteral("已保存登录"));
    EXPECT_FALSE(model->user()->membership);
    EXPECT_EQ(model->statusMessage(), QStringLiteral("登录状态已保留，会员权益等待网络恢复后同步"));
    EXPECT_EQ(storedToken(), token);
    EXPECT_FALSE(model->showAuthentication());
    EXPECT_EQ(model->alertMessage(), std::nullopt);

    // The service revokes the token: signed out and forgotten here.
    simulator.admin(QStringLiteral("faults/clear"));
    simulator.admin(QStringLiteral("revoke"), { { "token", token.toStdString() } });
    await(model->refreshAccount(true));
    expectSignedOutQuietly();
    EXPECT_FALSE(storedToken());
    EXPECT_FALSE(QFile::exists(AppPaths::sessionIdentity()));
    EXPECT_FALSE(Peer::api(*model).token());

    // With the account's name saved, the outage shows that name.
    model = makeModel();
    keychain().save(simulator.signedInToken(QString::fromLatin1(member), true), sessionAccount);
    SessionIdentityStore::saveAccount(QString::fromLatin1(member));
    simulator.fault(QStringLiteral("/api/v1/me"), { { "status", 503 } });
    await(model->bootstrap());
    EXPECT_EQ(model->user().value_or(AccountUser {}).account, QString::fromLatin1(member));
}

TEST_F(AccountIntegration, ARefusedSignInShowsTheMappedTextAndLeavesNoTokenBehind)
{
    simulator.admin(QStringLiteral("accounts"), { { "account", member }, { "password", memberPassword } });
    const struct {
        const char *account, *password;
        bool registering;
        const char *shown;
    } rows[] = { { member, memberPassword, true, "此账号已注册" }, { member, "wrong-pass", false, "账号或密码错误" },
        { "13900000000", memberPassword, false, "账号错误" } };
    for (const auto &row : rows) {
        login(row.password, row.registering, row.account);
        EXPECT_EQ(model->authenticationErrorMessage(), QString::fromUtf8(row.shown)) << row.account << row.password;
        EXPECT_FALSE(model->user());
        EXPECT_FALSE(model->isBusy());
    }

    // A token that cannot be stored is revoked at the service.
    ASSERT_TRUE(keyring.lockDefaultCollection());
    login();
    EXPECT_EQ(model->authenticationErrorMessage(), QStringLiteral("无法安全保存登录状态，请稍后重试"));
    EXPECT_FALSE(model->user());
    EXPECT_FALSE(Peer::api(*model).token());
    EXPECT_FALSE(model->isBusy());
    EXPECT_EQ(requestsTo("/api/v1/auth/logout").size(), 1);
    EXPECT_EQ(simulator.admin(QStringLiteral("state")).value("tokens", -1), 0);
    EXPECT_TRUE(diagnosticLog().contains(QStringLiteral("登录令牌无法保存：")));
    ASSERT_TRUE(keyring.unlockDefaultCollection());

    // A reply without the account is completed from "me"; with "me" failing no token stays.
    signInAnswer(simulator.signedInToken(QString::fromLatin1(member), true));
    simulator.fault(QStringLiteral("/api/v1/me"), { { "status", 503 } });
    login();
    EXPECT_TRUE(model->authenticationErrorMessage().has_value());
    EXPECT_FALSE(model->user());
    EXPECT_FALSE(Peer::api(*model).token());
    EXPECT_FALSE(storedToken()) << "the next start would sign in silently";
    EXPECT_EQ(requestsTo("/api/v1/auth/logout").size(), 2);

    // With "me" answering, the same reply (with a new token: that one was revoked) is completed from it.
    simulator.admin(QStringLiteral("faults/clear"));
    signInAnswer(simulator.signedInToken(QString::fromLatin1(member), true));
    login();
    ASSERT_TRUE(model->user());
    EXPECT_EQ(model->user()->account, QString::fromLatin1(member));
    EXPECT_EQ(model->selectedPage(), AppPage::dashboard);
    EXPECT_EQ(model->statusMessage(), QStringLiteral("登录成功"));
    EXPECT_TRUE(model->officialLineReady());
}

TEST_F(AccountIntegration, SigningOutForgetsTheAccountEvenWhenTheServiceIsDownOrARefreshIsUnderWay)
{
    signIn({ { "active", true } });
    ASSERT_TRUE(model->officialLineReady());
    // The refresh's answer comes only after the sign-out has finished.
    const qsizetype asked = requestsTo("/api/v1/me").size();
    simulator.fault(QStringLiteral("/api/v1/me"), { { "delayMs", 1500 }, { "times", 1 } });
    QCoro::Task<> refreshing = model->refreshAccount(true);
    ASSERT_TRUE(eventually([&] { return requestsTo("/api/v1/me").size() > asked; }, 5000));
    // The service cannot take the token back: the account is forgotten here all the same.
    simulator.fault(QStringLiteral("/api/v1/auth/logout"), { { "status", 500 } });
    await(model->logout());
    ASSERT_FALSE(model->user());
    EXPECT_EQ(model->statusMessage(), QStringLiteral("已退出账号"));
    await(std::move(refreshing));

    EXPECT_FALSE(model->user()) << "the refresh brought the account back";
    EXPECT_FALSE(model->officialLineReady());
    EXPECT_FALSE(storedToken());
    EXPECT_FALSE(keychain().load(lineAccount));
    EXPECT_FALSE(QFile::exists(AppPaths::sessionIdentity()));
    EXPECT_FALSE(Peer::api(*model).token());
    EXPECT_EQ(model->observedTrafficUsedBytes(), std::nullopt);
}

TEST_F(AccountIntegration, AFirstRunClearsAnOldSessionAndAsksToRegister)
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

TEST_F(AccountIntegration, AutoConnectAtStartNeedsTheOfficialLine)
{
    notTheFirstRun();
    AppSettings settings;
    settings.autoConnect = true;
    AppPaths::prepare();
    AppPaths::write(settings.toJson(), AppPaths::settings());
    // Signed in, but without a membership: no line, so no connection is attempted.
    keychain().save(simulator.signedInToken(QString::fromLatin1(member), false), sessionAccount);
    await(model->bootstrap());
    EXPECT_TRUE(model->settings().autoConnect);
    EXPECT_FALSE(model->officialLineReady());
    EXPECT_FALSE(model->isCoreRunning());
    EXPECT_EQ(model->statusMessage(), QStringLiteral("准备就绪"));
    EXPECT_EQ(model->selectedPage(), AppPage::membership);
}

TEST_F(AccountIntegration, ARepairedCrashIsStillReportedWhenStartUpEnds)
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

TEST_F(AccountIntegration, AFailedStartUpStepStopsStartUpButStillOffersSignIn)
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

TEST_F(AccountIntegration, SettingsGoOutWithoutSecretsAndComeInOnlyWhenValid)
{
    login(memberPassword, true);
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
    await(model->importSettings(fixtures.filePath(QStringLiteral("bad.json"))));
    EXPECT_EQ(model->alertMessage(), QStringLiteral("三个网络端口不能重复。"));
    EXPECT_FALSE(QFile::exists(AppPaths::settings()));
    EXPECT_EQ(model->settings(), AppSettings {});
}

TEST_F(AccountIntegration, SwitchesSaveOnlyTheirOwnFieldAndTakeEffectOutsideTheApplication)
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

    await(model->setStartAtLogin(true));
    EXPECT_TRUE(model->settings().startAtLogin);
    EXPECT_TRUE(QFile::exists(autostartEntry()));
    await(model->setStartAtLogin(false));
    EXPECT_FALSE(model->settings().startAtLogin);
    EXPECT_FALSE(QFile::exists(autostartEntry()));

    // Imported switches take effect the way a click would: the login item is registered.
    AppSettings file = saved;
    file.startAtLogin = true;
    AppPaths::write(file.toJson(), fixtures.filePath(QStringLiteral("import.json")));
    await(model->importSettings(fixtures.filePath(QStringLiteral("import.json"))));
    EXPECT_TRUE(model->settings().startAtLogin);
    EXPECT_TRUE(QFile::exists(autostartEntry()));
    EXPECT_TRUE(await(Peer::settingsStore(*model).loadSettings()).startAtLogin);

    // The folder cannot be made: the switch shows what is really registered, with the reason.
    await(model->setStartAtLogin(false));
    QDir(fixtures.filePath(QStringLiteral("autostart"))).removeRecursively();
    test::writeBytes(fixtures.filePath(QStringLiteral("autostart")), {});
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
    EXPECT_TRUE(await(Peer::settingsStore(*model).loadSettings()).showNotifications);
}

} // namespace
