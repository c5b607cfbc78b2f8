// The secret store against a real gnome-keyring daemon on a private session bus.
#include "ErrorExpectations.h"
#include "KeychainStore.h"
#include "KeyringSession.h"

#include <gtest/gtest.h>

using namespace veyra;
using namespace veyra::test;

namespace {

const QString token = QString::fromLatin1(KeychainStore::sessionAccount);
const QString line = QString::fromLatin1(KeychainStore::officialLineAccount);

using KeychainIntegration = KeyringTest;

TEST_F(KeychainIntegration, SaveUpdateLoadDeleteKeyedByServiceAndAccount)
{
    const QString ns = keychain.sessionNamespace();
    EXPECT_EQ(keychain.sessionNamespace(), ns);
    EXPECT_EQ(keychain.load(token), std::nullopt);
    keychain.save("first-token", token);
    keychain.save("second-token", token);
    EXPECT_EQ(keychain.load(token), std::optional<QString>("second-token"));
    EXPECT_EQ(keyring.lookup("net.veyra.networkassistant.session.v082-build91." + ns, token), QByteArray("second-token"));
    keychain.save("https://sub.example.net/s/abc", line);
    EXPECT_EQ(keychain.load(line), std::optional<QString>("https://sub.example.net/s/abc"));
    // The official line's service is a fixed text, independent of the namespace.
    EXPECT_EQ(keyring.lookup("(servicePrefix).(namespace)", line), QByteArray("https://sub.example.net/s/abc"));
    EXPECT_EQ(keyring.lookup("(servicePrefix).(namespace)", token), std::nullopt);

    keychain.remove(token);
    EXPECT_EQ(keychain.load(token), std::nullopt);
    EXPECT_EQ(keychain.load(line), std::optional<QString>("https://sub.example.net/s/abc"));
    keychain.remove(token); // deleting what is gone is fine
    keychain.remove(line);
    EXPECT_EQ(keychain.load(line), std::nullopt);

    // Text that is not UTF-8 reads as none.
    ASSERT_TRUE(keyring.storeRaw(keychain.service(token), token, QByteArray("\xff\xfe\x80", 3)));
    EXPECT_EQ(keychain.load(token), std::nullopt);
}

TEST_F(KeychainIntegration, LockedCollectionReadsAsNoneAndRotatesTheSessionNamespace)
{
    keychain.save("old-token", token);
    keychain.save("https://sub.example.net/x", line);
    const QString before = keychain.sessionNamespace();
    ASSERT_TRUE(keyring.lockDefaultCollection());

    // No prompt: each call comes straight back.
    EXPECT_EQ(keychain.load(token), std::nullopt);
    const QString rotated = keychain.sessionNamespace();
    EXPECT_NE(rotated, before);
    EXPECT_EQ(keychain.load(line), std::nullopt);
    EXPECT_EQ(keychain.sessionNamespace(), rotated); // only the session token rotates
    // Writing into the locked collection would need the keyring password: refused, not prompted.
    EXPECT_EQ(failureOfCall<AppError>([&] { keychain.save("new-token", token); }),
        "系统密钥环操作失败：User interaction is not allowed.");
    keychain.remove(line); // ignored while locked

    // After the next unlock the token lands under the fresh namespace; the old item is abandoned.
    ASSERT_TRUE(keyring.unlockDefaultCollection());
    const QString current = keychain.sessionNamespace();
    keychain.save("new-token", token);
    EXPECT_EQ(keychain.load(token), std::optional<QString>("new-token"));
    EXPECT_EQ(
        keyring.lookup("net.veyra.networkassistant.session.v082-build91." + current, token), QByteArray("new-token"));
    EXPECT_EQ(
        keyring.lookup("net.veyra.networkassistant.session.v082-build91." + before, token), QByteArray("old-token"));
    EXPECT_EQ(keychain.load(line), std::optional<QString>("https://sub.example.net/x"));
}

TEST_F(KeychainIntegration, UpdateOfALockedItemMovesTheTokenToAFreshNamespace)
{
    keychain.save("old-token", token);
    const QString before = keychain.sessionNamespace();
    ASSERT_TRUE(keyring.lockDefaultCollection());
    // The update meets a locked item, rotates, and the add is refused as the collection is locked.
    EXPECT_TRUE(failureOfCall<AppError>([&] { keychain.save("next-token", token); }).startsWith("系统密钥环操作失败："));
    EXPECT_NE(keychain.sessionNamespace(), before);
}

TEST_F(KeychainIntegration, NoSecretServiceIsAKeychainFailureWithItsReason)
{
    keyring.stopDaemon();
    for (const QString &text : { failureOfCall<AppError>([&] { keychain.load(token); }),
             failureOfCall<AppError>([&] { keychain.save("x", line); }) }) {
        EXPECT_TRUE(text.startsWith("系统密钥环操作失败：")) << text.toStdString();
        EXPECT_GT(text.size(), QString("系统密钥环操作失败：").size());
    }
    keychain.remove(token); // never fails
}

} // namespace
