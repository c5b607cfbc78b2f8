// The stores of the signed-in session: the official line (a real keyring and a scripted
// resolver), the account name and the installation marker.
#include "AppInfo.h"
#include "AppPaths.h"
#include "ErrorExpectations.h"
#include "InstallationIdentity.h"
#include "KeyringSession.h"
#include "OfficialLineStore.h"
#include "SessionIdentityStore.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/socket.h>

using namespace veyra;
using namespace veyra::test;

namespace {

const QString lineAccount = QString::fromLatin1(KeychainStore::officialLineAccount);

// Every host resolves to the address the test sets.
class OfficialLineIntegration : public KeyringTest {
protected:
    std::shared_ptr<QByteArray> address = std::make_shared<QByteArray>("\xC6\x33\x64\x0A", 4);
    OfficialLineStore store { keychain,
        [address = address](const QString &) {
            return std::optional<QList<SecurityPolicy::ResolvedAddress>>({ { AF_INET, *address } });
        },
        "device-7" };
};

TEST_F(OfficialLineIntegration, StoresHandsBackDeletesAndRefusesTheLine)
{
    const QString none = "尚未取得官方线路。请登录有效会员账号并刷新权益。";
    EXPECT_FALSE(store.available());
    EXPECT_TRUE(await(store.synchronize(QString(" \nHTTPS://Sub.Example.NET/s/abc?x=1 \t"))));
    EXPECT_EQ(keychain.load(lineAccount), std::optional<QString>("https://sub.example.net/s/abc?x=1"));
    EXPECT_EQ(await(store.activeLine()), QUrl("https://sub.example.net/s/abc?x=1"));
    const ProviderSource source = await(store.activeSource());
    EXPECT_EQ(source.providerID, "veyra_official");
    EXPECT_EQ(source.url, "https://sub.example.net/s/abc?x=1");
    EXPECT_EQ(source.userAgent, QStringLiteral("Clash.Meta/Veyra-") + AppInfo::version);
    EXPECT_EQ(source.deviceID, "device-7");

    // Removed behind the store's back (another copy of the application): no line.
    keychain.remove(lineAccount);
    EXPECT_EQ(failureOf<AppError>(store.activeLine()), none);

    // An empty line, or none, deletes the stored one.
    for (const std::optional<QString> &empty : { std::optional<QString>("  \n"), std::optional<QString>() }) {
        ASSERT_TRUE(await(store.synchronize(QString("https://sub.example.net/first"))));
        EXPECT_FALSE(await(store.synchronize(empty)));
        EXPECT_FALSE(store.available());
        EXPECT_EQ(keychain.load(lineAccount), std::nullopt);
    }

    // A refused line keeps the earlier one, which is checked again before use.
    ASSERT_TRUE(await(store.synchronize(QString("https://sub.example.net/first"))));
    *address = QByteArray("\xC0\xA8\x01\x14", 4); // 192.168.1.20
    EXPECT_EQ(failureOf<AppError>(store.synchronize(QString("https://lan-box.example.net/second"))),
        "服务器解析到本机或局域网地址，已拒绝访问。");
    EXPECT_EQ(failureOf<AppError>(store.synchronize(QString("http://sub.example.net/plain"))),
        "官方线路地址无效，必须使用不含账号密码的 HTTPS 地址。");
    EXPECT_EQ(keychain.load(lineAccount), std::optional<QString>("https://sub.example.net/first"));
    EXPECT_EQ(failureOf<AppError>(store.activeLine()), "服务器解析到本机或局域网地址，已拒绝访问。");
}

TEST(OfficialLine, FullAddressPreferredOverTheToken)
{
    AccountUser user;
    user.account = "13800138000";
    EXPECT_EQ(OfficialLineStore::lineOf(user), std::nullopt);
    user.subscriptionUrlToken = "https://sub.example.net/token-form";
    EXPECT_EQ(OfficialLineStore::lineOf(user), std::optional<QString>("https://sub.example.net/token-form"));
    user.subscriptionUrl = "https://sub.example.net/full";
    EXPECT_EQ(OfficialLineStore::lineOf(user), std::optional<QString>("https://sub.example.net/full"));
}

} // namespace

using SessionIdentity = DataFolderTest;

TEST_F(SessionIdentity, SavesTheTrimmedNameOwnerOnlyAndReadsBadFilesAsNone)
{
    AppPaths::prepare();
    SessionIdentityStore::saveAccount("  13800138000\n");
    EXPECT_EQ(SessionIdentityStore::loadAccount(), std::optional<QString>("13800138000"));
    EXPECT_EQ(modeOf(AppPaths::sessionIdentity()), 0600);
    SessionIdentityStore::saveAccount(" \t\n"); // an empty name is not written
    EXPECT_EQ(SessionIdentityStore::loadAccount(), std::optional<QString>("13800138000"));
    SessionIdentityStore::clear();
    EXPECT_EQ(SessionIdentityStore::loadAccount(), std::nullopt);

    for (const QByteArray &bad : { QByteArray(R"({"account":"   "})"), QByteArray(R"({"account":)"),
             QByteArray(R"({"account":42})"), R"({"account":"a"})" + QByteArray(4096, ' ') }) {
        writeBytes(AppPaths::sessionIdentity(), bad);
        EXPECT_EQ(SessionIdentityStore::loadAccount(), std::nullopt) << bad.left(20).toStdString();
    }
}

TEST(InstallationMarker, FirstRunOnlyOnceAndAnUpgradeIsNone)
{
    // The legacy fingerprint an older version left: present means an upgrade, empty means nothing.
    for (const std::optional<QString> &fingerprint :
        { std::optional<QString>(), std::optional<QString>("abc123"), std::optional<QString>("") }) {
        QTemporaryDir dir;
        const UserDefaults defaults(dir.filePath("defaults.ini"));
        if (fingerprint)
            defaults.open()->setValue(InstallationIdentity::legacyFingerprintKey, *fingerprint);
        const bool firstRun = fingerprint != QString("abc123");
        EXPECT_EQ(InstallationIdentity::consumeCurrentInstallation(defaults), firstRun)
            << fingerprint.value_or("none").toStdString();
        EXPECT_FALSE(InstallationIdentity::consumeCurrentInstallation(defaults));
        EXPECT_TRUE(defaults.open()->value(InstallationIdentity::initializedKey).toBool());
    }
}
