#pragma once

#include "AppModel.h"
#include "KeyringSession.h"
#include "LocalHttpServer.h"
#include "NotificationServer.h"
#include "SysproxyTestSupport.h"
#include "TestModel.h"
#include "TestSupport.h"

#include "ProxyServer.h"

#include <QTemporaryDir>

#include <memory>

namespace veyra::test {

// The model with real collaborators on loopback: the bundled stand-in kernel (behind a small
// wrapper that trusts this test's certificate and finds the line's made-up host on 127.0.0.1),
// the official line on https from this process with two SOCKS5 nodes, a plain 204 endpoint, a
// private keyring holding the line, the helper on a thread of the test with the stand-in
// networksetup and its state file, and a notification server on the private bus.
class ModelWorld : public DataFolderTest {
protected:
    static constexpr const char *lineHost = "line.veyra.test";

    void SetUp() override;
    void TearDown() override;

    // A fresh model over fresh collaborators (the previous one is shut down first).
    MemberModel &makeModel(QString checkPath = QStringLiteral("/generate_204"));
    AppCollaborators collaborators(const QString &checkPath);
    WorldSeams seams(const QString &checkPath) const;

    // What the stand-in's services do: for each, whether it is on and, per proxy kind, whether
    // it is on and (only then) where it points, plus bypass list and automatic settings. A
    // restore cannot empty a server field the tool keeps after turning the proxy off, and
    // nothing reads such a field, so it is left out.
    nlohmann::json services() const;
    QByteArray stateBytes() const;
    // Every enabled service points web, secure web and SOCKS at 127.0.0.1:port.
    bool everyServicePointsAt(qint64 port) const;
    // Waits (turning the event loop) until the server has shown `count` notifications.
    bool notificationsShown(int count, int limitMs = 5000);
    QString selectedInKernel();
    QString kernelMode();

    QTemporaryDir fixtures;
    std::unique_ptr<KeyringSession> keyring;
    std::unique_ptr<LocalHttpServer> origin; // https: the official line
    LocalHttpServer check; // plain http: the connectivity check
    proxy::ProxyServer node { proxy::ProxyServer::Protocols::socks5 };
    std::unique_ptr<HelperHarness> helper;
    std::unique_ptr<NotificationServer> notificationServer;
    QString resources;
    QString lineURL;
    std::unique_ptr<MemberModel> model;
};

} // namespace veyra::test
