#pragma once

#include "Endpoint.h"
#include "Relay.h"

#include <QObject>
#include <QTcpSocket>
#include <QTimer>

#include <functional>

namespace veyra::proxy {

class UpstreamConnector;

// One accepted client connection during its handshake: reads a SOCKS5 or HTTP proxy request,
// asks the router where to send it, opens the upstream and hands both sockets to a Relay.
class InboundSession : public QObject {
    Q_OBJECT
public:
    enum class Accept { socks5, http, both };
    using Router = std::function<Upstream(const Endpoint &)>;
    using Observer = std::function<void(const Endpoint &, const Upstream &, bool succeeded)>;

    static constexpr qsizetype maximumHeader = 16 * 1024;
    static constexpr int handshakeTimeoutMs = 30'000;

    InboundSession(
        QTcpSocket *client, Accept accept, Router router, Relay::Counter counter, Observer observer, QObject *parent);

private:
    enum class Stage { detect, socksGreeting, socksRequest, httpHeader, connecting };

    void onReadyRead();
    bool readSocksGreeting();
    bool readSocksRequest();
    bool readHttpHeader();
    void connectUpstream(const Endpoint &target);
    void onUpstreamReady(QTcpSocket *upstream);
    void onUpstreamFailed();
    void abandon();

    QTcpSocket *m_client;
    Accept m_accept;
    Router m_router;
    Relay::Counter m_counter;
    Observer m_observer;
    QTimer m_timer;
    Stage m_stage = Stage::detect;
    bool m_isSocks = false;
    bool m_isConnectMethod = false;
    QByteArray m_forward; // bytes to send upstream first (a rewritten HTTP request and its body)
    Endpoint m_target;
    Upstream m_upstream;
    UpstreamConnector *m_connector = nullptr;
};

} // namespace veyra::proxy
