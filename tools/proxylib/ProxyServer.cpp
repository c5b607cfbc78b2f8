#include "ProxyServer.h"

namespace veyra::proxy {

ProxyServer::ProxyServer(Protocols protocols, QObject *parent)
    : QObject(parent)
    , m_protocols(protocols)
{
    connect(&m_server, &QTcpServer::newConnection, this, &ProxyServer::onNewConnection);
}

ProxyServer::~ProxyServer()
{
    // Sessions and relays are children; they go with the server.
    m_server.close();
}

bool ProxyServer::listen(const QHostAddress &address, quint16 port)
{
    return m_server.listen(address, port);
}

void ProxyServer::close()
{
    m_server.close();
}

void ProxyServer::onNewConnection()
{
    while (QTcpSocket *client = m_server.nextPendingConnection()) {
        ++m_accepted;
        const InboundSession::Accept accept = m_protocols == Protocols::socks5 ? InboundSession::Accept::socks5
            : m_protocols == Protocols::http                                   ? InboundSession::Accept::http
                                                                               : InboundSession::Accept::both;
        new InboundSession(
            client, accept, m_router,
            [this](qint64 up, qint64 down) {
                m_uploaded += up;
                m_downloaded += down;
            },
            [this](
                const Endpoint &target, const Upstream &via, bool succeeded) { emit routed(target, via, succeeded); },
            this);
    }
}

} // namespace veyra::proxy
