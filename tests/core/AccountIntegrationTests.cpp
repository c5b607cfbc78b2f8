// The account session against the service simulator over real TLS and a private keyring.
#include "AppModelTestPeer.h"
#include "ServiceWorld.h"

#include "AppPaths.h"
#include "KernelTestSupport.h"
#include "SessionIdentityStore.h"

#include <QFile>

using namespace veyra;
using namespace veyra::test;
using json::Json;

namespace {

class AccountIntegration : public ServiceWorld { };

TEST_F(AccountIntegration, RegistrationThenMembershipBringsTheLine)
{
    // Checked before anything is sent.
    await(model->login(QString::fromLatin1(member), QStringLiteral("short"), true));
    EXPECT_EQ(model->authenticationErrorMessage(), QStringLiteral("密码错误：密码至少 8 位"));
    EXPECT_TRUE(requestsTo("/api/v1/auth/register").isEmpty());

    await(model->login(QStringLiteral(" 13800138000 "), QStringLiteral("password123"), true));
    ASSERT_TRUE(model->user()) << model->authenticationErrorMessage().value_or(QString()).toStdString();
    EXPECT_EQ(model->user()->account, QString::fromLatin1(member));
    EXPECT_EQ(model->statusMessage(), QStringLiteral("注册成功"));
    EXPECT_EQ(model->authenticationErrorMessage(), std::nullopt);
    EXPECT_FALSE(model->showAuthentication());
    EXPECT_FALSE(model->isBusy());
    EXPECT_EQ(model->selectedPage(), AppPage::membership);
    EXPECT_FALSE(model->officialLineReady());
    EXPECT_EQ(storedToken(), Peer::api(*model).token());
    EXPECT_EQ(SessionIdentityStore::loadAccount(), QString::fromLatin1(member));
    EXPECT_FALSE(keychain().load(lineAccount));

    // The service grants a membership: the next refresh brings the line, kept only in the keyring.
    simulator.admin(QStringLiteral("membership"), { { "account", member }, { "active", true } });
    await(model->refreshAccount(false));
    EXPECT_TRUE(model->membershipActive());
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

TEST_F(AccountIntegration, RejectedSignInsShowTheMappedTexts)
{
    simulator.admin(QStringLiteral("accounts"), { { "account", member }, { "password", "secret-pass" } });
    struct Row {
        const char *account;
        const char *password;
        bool registering;
        const char *shown;
    };
    for (const Row &row :
        { Row { member, "secret-pass", true, "此账号已注册" }, Row { member, "wrong-pass", false, "账号或密码错误" },
            Row { "13900000000", "secret-pass", false, "账号错误" } }) {
        await(model->login(QString::fromLatin1(row.account), QString::fromLatin1(row.password), row.registering));
        EXPECT_EQ(model->authenticationErrorMessage(), QString::fromUtf8(row.shown)) << row.account << row.password;
        EXPECT_FALSE(model->user());
        EXPECT_FALSE(model->isBusy());
    }
    simulator.fault(QStringLiteral("/api/v1/auth/login"),
        { { "status", 429 }, { "body", R"({"message":"rate_limit 请稍后"})" }, { "contentType", "application/json" } });
    await(model->login(QString::fromLatin1(member), QStringLiteral("secret-pass"), false));
    EXPECT_EQ(model->authenticationErrorMessage(), QStringLiteral("尝试次数过多，请稍后再试"));
    EXPECT_FALSE(storedToken());
}

TEST_F(AccountIntegration, ATokenThatCannotBeStoredIsRevokedAtTheService)
{
    simulator.admin(QStringLiteral("accounts"), { { "account", member }, { "password", "password123" } });
    ASSERT_TRUE(keyring.lockDefaultCollection());
    await(model->login(QString::fromLatin1(member), QStringLiteral("password123"), false));
    EXPECT_EQ(model->authenticationErrorMessage(), QStringLiteral("无法安全保存登录状态，请稍后重试"));
    EXPECT_FALSE(model->user());
    EXPECT_FALSE(Peer::api(*model).token());
    EXPECT_FALSE(model->isBusy());
    const QList<Json> logouts = requestsTo("/api/v1/auth/logout");
    ASSERT_EQ(logouts.size(), 1);
    EXPECT_EQ(simulator.admin(QStringLiteral("state")).value("tokens", -1), 0);
    EXPECT_TRUE(diagnosticLog().contains(QStringLiteral("登录令牌无法保存：")));
    ASSERT_TRUE(keyring.unlockDefaultCollection());
}

TEST_F(AccountIntegration, OnlyARejectedTokenEndsARestoredSession)
{
    const QString token = simulator.signedInToken(QString::fromLatin1(member), true);
    keychain().save(token, sessionAccount);
    SessionIdentityStore::saveAccount(QString::fromLatin1(member));

    // An outage keeps the provisional account and the token.
    EXPECT_TRUE(await(Peer::restoreSession(*model, false)));
    Peer::showRestoredSession(*model);
    EXPECT_EQ(model->user()->account, QString::fromLatin1(member));
    EXPECT_EQ(model->statusMessage(), QStringLiteral("正在自动恢复登录…"));
    simulator.fault(QStringLiteral("/api/v1/me"), { { "status", 503 } });
    await(model->refreshAccount(true));
    EXPECT_EQ(model->user()->account, QString::fromLatin1(member));
    EXPECT_FALSE(model->user()->membership);
    EXPECT_EQ(storedToken(), token);
    EXPECT_EQ(model->statusMessage(), QStringLiteral("登录状态已保留，会员权益等待网络恢复后同步"));
    EXPECT_EQ(model->alertMessage(), std::nullopt);

    // The service revokes the token: signed out without an alert, sign-in sheet in login mode.
    simulator.admin(QStringLiteral("faults/clear"));
    simulator.admin(QStringLiteral("revoke"), { { "token", token.toStdString() } });
    await(model->refreshAccount(true));
    EXPECT_FALSE(model->user());
    EXPECT_EQ(model->statusMessage(), QStringLiteral("需要重新登录"));
    EXPECT_TRUE(model->showAuthentication());
    EXPECT_EQ(model->authenticationMode(), AuthenticationMode::login);
    EXPECT_EQ(model->authenticationErrorMessage(), QStringLiteral("登录状态已过期，请重新登录"));
    EXPECT_EQ(model->alertMessage(), std::nullopt);
    EXPECT_FALSE(storedToken());
    EXPECT_FALSE(QFile::exists(AppPaths::sessionIdentity()));
    EXPECT_FALSE(Peer::api(*model).token());
}

TEST_F(AccountIntegration, ASignInReplyWithoutTheAccountIsCompletedFromMeOrLeavesNoTokenBehind)
{
    const QString token = simulator.signedInToken(QString::fromLatin1(member), true);
    simulator.fault(QStringLiteral("/api/v1/auth/login"),
        { { "status", 200 }, { "body", Json { { "token", token.toStdString() } }.dump() },
            { "contentType", "application/json" } });
    simulator.fault(QStringLiteral("/api/v1/me"), { { "status", 503 } });
    await(model->login(QString::fromLatin1(member), QStringLiteral("password123"), false));
    EXPECT_TRUE(model->authenticationErrorMessage().has_value());
    EXPECT_FALSE(model->user());
    EXPECT_FALSE(Peer::api(*model).token());
    EXPECT_FALSE(storedToken()) << "the next start would sign in silently";
    EXPECT_EQ(requestsTo("/api/v1/auth/logout").size(), 1);

    // With "me" answering, the same reply (with a new token: that one was revoked) is completed from it.
    simulator.admin(QStringLiteral("faults/clear"));
    simulator.fault(QStringLiteral("/api/v1/auth/login"),
        { { "status", 200 },
            { "body",
                Json { { "token", simulator.signedInToken(QString::fromLatin1(member), true).toStdString() } }.dump() },
            { "contentType", "application/json" } });
    await(model->login(QString::fromLatin1(member), QStringLiteral("password123"), false));
    ASSERT_TRUE(model->user());
    EXPECT_EQ(model->user()->account, QString::fromLatin1(member));
    EXPECT_TRUE(model->membershipActive());
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

} // namespace
