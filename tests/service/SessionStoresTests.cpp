#include "AppPaths.h"
#include "InstallationIdentity.h"
#include "SessionIdentityStore.h"
#include "TestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace veyra;
using namespace veyra::test;

using SessionIdentity = DataFolderTest;

TEST_F(SessionIdentity, SavesTheTrimmedNameOwnerOnlyAndReadsBadFilesAsNone)
{
    AppPaths::prepare();
    SessionIdentityStore::saveAccount("  13800138000\n");
    EXPECT_EQ(SessionIdentityStore::loadAccount(), std::optional<QString>("13800138000"));
    EXPECT_EQ(modeOf(AppPaths::sessionIdentity()), 0600);
    EXPECT_FALSE(readBytes(AppPaths::sessionIdentity()).contains("token"));
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
