#include "AppPaths.h"
#include "InstallationIdentity.h"
#include "SessionIdentityStore.h"
#include "TestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace veyra;
using namespace veyra::test;

class SessionIdentity : public DataFolderTest {
protected:
    void SetUp() override
    {
        DataFolderTest::SetUp();
        AppPaths::prepare();
    }
};

TEST_F(SessionIdentity, SavesTheTrimmedNameOwnerOnly)
{
    SessionIdentityStore::saveAccount("  13800138000\n");
    EXPECT_EQ(SessionIdentityStore::loadAccount(), std::optional<QString>("13800138000"));
    EXPECT_EQ(modeOf(AppPaths::sessionIdentity()), 0600);
    EXPECT_FALSE(readBytes(AppPaths::sessionIdentity()).contains("token"));

    SessionIdentityStore::clear();
    EXPECT_EQ(SessionIdentityStore::loadAccount(), std::nullopt);
}

TEST_F(SessionIdentity, EmptyNameIsNotWritten)
{
    SessionIdentityStore::saveAccount("old-name");
    SessionIdentityStore::saveAccount(" \t\n");
    EXPECT_EQ(SessionIdentityStore::loadAccount(), std::optional<QString>("old-name"));
}

TEST_F(SessionIdentity, BadFilesReadAsNone)
{
    const QString path = AppPaths::sessionIdentity();
    writeBytes(path, "{\"account\":\"   \"}");
    EXPECT_EQ(SessionIdentityStore::loadAccount(), std::nullopt);
    writeBytes(path, "{\"account\":");
    EXPECT_EQ(SessionIdentityStore::loadAccount(), std::nullopt);
    writeBytes(path, "{\"account\":42}");
    EXPECT_EQ(SessionIdentityStore::loadAccount(), std::nullopt);
    // Over the 4096-byte cap, even though the content is valid.
    writeBytes(path, "{\"account\":\"a\"}" + QByteArray(4096, ' '));
    EXPECT_EQ(SessionIdentityStore::loadAccount(), std::nullopt);
    writeBytes(path, "{\"account\":\"a\"}" + QByteArray(4096 - 15, ' '));
    EXPECT_EQ(SessionIdentityStore::loadAccount(), std::optional<QString>("a"));
}

TEST(InstallationMarker, FirstRunOnlyOnce)
{
    QTemporaryDir dir;
    const UserDefaults defaults(dir.filePath("defaults.ini"));
    EXPECT_TRUE(InstallationIdentity::consumeCurrentInstallation(defaults));
    EXPECT_FALSE(InstallationIdentity::consumeCurrentInstallation(defaults));
    EXPECT_TRUE(defaults.open()->value(InstallationIdentity::initializedKey).toBool());
}

TEST(InstallationMarker, UpgradeIsNotAFirstRun)
{
    QTemporaryDir dir;
    const UserDefaults defaults(dir.filePath("defaults.ini"));
    defaults.open()->setValue(InstallationIdentity::legacyFingerprintKey, "abc123");
    EXPECT_FALSE(InstallationIdentity::consumeCurrentInstallation(defaults));
    EXPECT_FALSE(InstallationIdentity::consumeCurrentInstallation(defaults));

    QTemporaryDir other;
    const UserDefaults emptyFingerprint(other.filePath("defaults.ini"));
    emptyFingerprint.open()->setValue(InstallationIdentity::legacyFingerprintKey, "");
    EXPECT_TRUE(InstallationIdentity::consumeCurrentInstallation(emptyFingerprint));
}
