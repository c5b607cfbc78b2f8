#pragma once

#include "Endpoint.h"
#include "InboundSession.h"

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

#include <functional>

namespace veyra::proxy {

// A local proxy listener. Speaks SOCKS5 (no authentication, CONNECT; IPv4, IPv6 and domain
// targets), HTTP proxy (CONNECT and absolute-form requests), or both on one port, told apart
// by the first byte a client sends. Every request goes where the router says: DIRECT, through
// an upstream socks5/http node, or nowhere (reject). Without a router everything goes DIRECT.
class ProxyServer : public QObject {
    Q_OBJECT
public:
    enum class Protocols { socks5, http, mixed };
    using Router = InboundSession::Router;

    explicit ProxyServer(Protocols protocols, QObject *parent = nullptr);
    ~ProxyServer() override;

    void setRouter(Router router) { m_router = std::move(router); }

    bool listen(const QHostAddress &address, quint16 port);
    void close();
    bool isListening() const { return m_server.isListening(); }
    quint16 port() const { return m_server.serverPort(); }
    QString errorString() const { return m_server.errorString(); }

    // Bytes forwarded since the server was created: client → upstream and upstream → client.
    qint64 uploadedBytes() const { return m_uploaded; }
    qint64 downloadedBytes() const { return m_downloaded; }
    qint64 acceptedConnections() const { return m_accepted; }

signals:
    // After each upstream attempt, for logs and tests.
    void routed(const veyra::proxy::Endpoint &target, const veyra::proxy::Upstream &via, bool succeeded);

private:
    void onNewConnection();

    Protocols m_protocols;
    QTcpServer m_server;
    Router m_router;
    qint64 m_uploaded = 0;
    qint64 m_downloaded = 0;
    qint64 m_accepted = 0;
};

} // namespace veyra::proxy
