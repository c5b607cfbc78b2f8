#pragma once

#include "AppModel.h"
#include "KeyringSession.h"
#include "LocalHttpServer.h"
#include "NotificationServer.h"
#include "ServiceSimulator.h"
#include "SysproxyTestSupport.h"
#include "TestModel.h"
#include "TestSupport.h"

#include <QTemporaryDir>

#include <memory>

namespace veyra::test {

// The model with real collaborators on loopback: the service simulator over TLS (accounts,
// the official line under a made-up public name, its SOCKS5 nodes), the bundled stand-in
// kernel behind a small wrapper that trusts the simulator's certificate and finds the line's
// name on loopback, a plain 204 endpoint, a private keyring, the helper on a thread of the
// test with the stand-in networksetup and its state file, and a notification server on the
// private bus. The model signs in as a member like a user would.
class ModelWorld : public DataFolderTest {
protected:
    static constexpr const char *member = "13800138000";
    static constexpr const char *password = "password123";

    void SetUp() override;
    void TearDown() override;

    // A fresh model over fresh collaborators, signed in as the member, its line synced, and
    // settings with free ports imported (the previous model is shut down first).
    AppModel &makeModel(QString checkPath = QStringLiteral("/generate_204"), AppSettings settings = freeSettings());
    // makeModel(), then connected.
    AppModel &connectedModel(AppSettings settings = freeSettings());
    // Disconnected with nothing left behind: no kernel, the services as they were before the
    // model connected, no snapshot.
    void expectRestored(AppModel &m);
    static AppSettings freeSettings();
    AppCollaborators collaborators(const QString &checkPath);
    // Writes settings to a file and imports them into the model, as the settings page would.
    void importSettings(AppModel &into, const AppSettings &settings);

    // What the stand-in's services do: for each, whether it is on and, per proxy kind, whether
    // it is on and (only then) where it points, plus bypass list and automatic settings. A
    // restore cannot empty a server field the tool keeps after turning the proxy off, and
    // nothing reads such a field, so it is left out.
    nlohmann::json services() const;
    // Every enabled service points web, secure web and SOCKS at 127.0.0.1:port.
    bool everyServicePointsAt(qint64 port) const;
    // Waits (turning the event loop) until the server has shown `count` notifications.
    bool notificationsShown(int count, int limitMs = 5000);
    // A field of what the running kernel's controller answers for a path.
    QString kernelValue(const QString &path, const QString &key);
    QString selectedInKernel();

    QTemporaryDir fixtures;
    std::unique_ptr<KeyringSession> keyring;
    std::unique_ptr<ServiceSimulator> simulator;
    LocalHttpServer check; // plain http: the connectivity check and a download
    std::unique_ptr<HelperHarness> helper;
    std::unique_ptr<NotificationServer> notificationServer;
    QString resources;
    std::unique_ptr<AppModel> model;
    nlohmann::json before; // services() when makeModel() returned
};

// Kills the kernel and returns once it is a zombie: its end is then already waiting in the
// event loop, ahead of anything the model asks of the dead controller afterwards.
void killKernelNow(qint64 pid);

} // namespace veyra::test
