#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "KeychainStore.h"

#include <optional>

namespace veyra::test {

// The test process's private D-Bus session bus, started on first use and kept until the
// process ends; DBUS_SESSION_BUS_ADDRESS names it. Empty when it could not start.
QByteArray privateSessionBus();

// A private D-Bus session bus (no service activation, so nothing starts behind our back) and a
// gnome-keyring daemon with an unlocked "login" collection in a temporary home. Only this test
// process sees the bus, through DBUS_SESSION_BUS_ADDRESS; both daemons are stopped afterwards.
class KeyringSession {
public:
    KeyringSession();
    ~KeyringSession() { stopDaemon(); }

    bool running() const { return m_daemon.state() == QProcess::Running && m_ready; }
    void stopDaemon();

    // Direct access to the keyring, bypassing the store under test.
    bool lockDefaultCollection();
    bool unlockDefaultCollection();
    std::optional<QByteArray> lookup(const QString &service, const QString &account);
    bool storeRaw(const QString &service, const QString &account, const QByteArray &secret);

private:
    bool startDaemon();

    QTemporaryDir m_home;
    QByteArray m_busAddress;
    QProcess m_daemon;
    bool m_ready = false;
    QString m_failure; // why the session could not start, for the test's failure message
};

// A test with a running private keyring and the application's secret store over it.
class KeyringTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(keyring.running()); }

    KeyringSession keyring;
    QTemporaryDir defaultsDir;
    KeychainStore keychain { UserDefaults(defaultsDir.filePath("defaults.ini")) };
};

} // namespace veyra::test
