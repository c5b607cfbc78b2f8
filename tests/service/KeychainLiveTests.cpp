// The secret store against a real gnome-keyring daemon on a private session bus.
#include "ErrorExpectations.h"
#include "KeychainStore.h"
#include "KeyringSession.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace veyra;
using namespace veyra::test;

namespace {

const QString token = QString::fromLatin1(KeychainStore::sessionAccount);
const QString line = QString::fromLatin1(KeychainStore::officialLineAccount);

class LiveKeychain : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(keyring.running()); }

    KeyringSession keyring;
    QTemporaryDir defaultsDir;
    KeychainStore store { UserDefaults(defaultsDir.filePath("defaults.ini")) };
};

TEST_F(LiveKeychain, SaveUpdateLoadDelete)
{
    EXPECT_EQ(store.load(token), std::nullopt);
    store.save("first-token", token);
    EXPECT_EQ(store.load(token), std::optional<QString>("first-token"));
    store.save("second-token", token);
    EXPECT_EQ(store.load(token), std::optional<QString>("second-token"));

    store.save("https://sub.example.net/s/abc", line);
    EXPECT_EQ(store.load(line), std::optional<QString>("https://sub.example.net/s/abc"));

    store.remove(token);
    EXPECT_EQ(store.load(token), std::nullopt);
    EXPECT_EQ(store.load(line), std::optional<QString>("https://sub.example.net/s/abc"));
    store.remove(token); // deleting what is gone is fine
    store.remove(line);
    EXPECT_EQ(store.load(line), std::nullopt);
}

TEST_F(LiveKeychain, ItemsAreKeyedByServiceAndAccount)
{
    const QString ns = store.sessionNamespace();
    EXPECT_EQ(ns.size(), 36);
    EXPECT_EQ(ns, ns.toLower());
    EXPECT_EQ(store.sessionNamespace(), ns);

    store.save("tok", token);
    store.save("https://sub.example.net/x", line);
    EXPECT_EQ(keyring.lookup("net.veyra.networkassistant.session.v082-build91." + ns, token), QByteArray("tok"));
    // The official line's service is the fixed 27-character text, independent of the namespace.
    EXPECT_EQ(QString::fromLatin1(KeychainStore::fixedService).size(), 27);
    EXPECT_EQ(keyring.lookup("(servicePrefix).(namespace)", line), QByteArray("https://sub.example.net/x"));
    EXPECT_EQ(keyring.lookup("(servicePrefix).(namespace)", token), std::nullopt);
}

TEST_F(LiveKeychain, TextThatIsNotUtf8ReadsAsNone)
{
    ASSERT_TRUE(keyring.storeRaw(store.service(token), token, QByteArray("\xff\xfe\x80", 3)));
    EXPECT_EQ(store.load(token), std::nullopt);
}

TEST_F(LiveKeychain, LockedCollectionReadsAsNoneAndRotatesTheSessionNamespace)
{
    store.save("old-token", token);
    store.save("https://sub.example.net/x", line);
    const QString before = store.sessionNamespace();
    ASSERT_TRUE(keyring.lockDefaultCollection());

    // No prompt: each call comes straight back.
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(store.load(token), std::nullopt);
    const QString rotated = store.sessionNamespace();
    EXPECT_NE(rotated, before);
    EXPECT_EQ(store.load(line), std::nullopt);
    EXPECT_EQ(store.sessionNamespace(), rotated); // only the session token rotates
    // Writing into the locked collection would need the keyring password: refused, not prompted.
    EXPECT_EQ(failureOfCall<AppError>([&] { store.save("new-token", token); }),
        "macOS 钥匙串操作失败：User interaction is not allowed.");
    store.remove(line); // ignored while locked
    EXPECT_LT(clock.elapsed(), 5'000);

    // After the next unlock the token lands under the fresh namespace; the old item is abandoned.
    ASSERT_TRUE(keyring.unlockDefaultCollection());
    const QString current = store.sessionNamespace();
    store.save("new-token", token);
    EXPECT_EQ(store.load(token), std::optional<QString>("new-token"));
    EXPECT_EQ(
        keyring.lookup("net.veyra.networkassistant.session.v082-build91." + current, token), QByteArray("new-token"));
    EXPECT_EQ(
        keyring.lookup("net.veyra.networkassistant.session.v082-build91." + before, token), QByteArray("old-token"));
    EXPECT_EQ(store.load(line), std::optional<QString>("https://sub.example.net/x"));
}

TEST_F(LiveKeychain, UpdateOfALockedItemMovesTheTokenToAFreshNamespace)
{
    store.save("old-token", token);
    const QString before = store.sessionNamespace();
    ASSERT_TRUE(keyring.lockDefaultCollection());
    // The update meets a locked item, rotates, and the add is refused as the collection is locked.
    EXPECT_TRUE(failureOfCall<AppError>([&] { store.save("next-token", token); }).startsWith("macOS 钥匙串操作失败："));
    EXPECT_NE(store.sessionNamespace(), before);
}

TEST_F(LiveKeychain, NoSecretServiceIsAKeychainFailure)
{
    keyring.stopDaemon();
    const QString text = failureOfCall<AppError>([&] { store.load(token); });
    EXPECT_TRUE(text.startsWith("macOS 钥匙串操作失败：")) << text.toStdString();
    EXPECT_GT(text.size(), QString("macOS 钥匙串操作失败：").size());
    EXPECT_TRUE(failureOfCall<AppError>([&] { store.save("x", line); }).startsWith("macOS 钥匙串操作失败："));
    store.remove(token); // never fails
}

} // namespace
