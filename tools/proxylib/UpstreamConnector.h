#pragma once

#include "Endpoint.h"

#include <QObject>
#include <QTcpSocket>
#include <QTimer>

namespace veyra::proxy {

// Opens one TCP connection to `target`, either directly or as a tunnel through an upstream
// socks5 or http node. Emits exactly one of `ready` (the caller takes the socket) or `failed`,
// then deletes itself. A handshake that does not finish within `timeoutMs` fails.
class UpstreamConnector : public QObject {
    Q_OBJECT
public:
    static constexpr int defaultTimeoutMs = 10'000;

    static UpstreamConnector *open(
        const Upstream &upstream, const Endpoint &target, QObject *parent = nullptr, int timeoutMs = defaultTimeoutMs);

    // Aborts the attempt without emitting anything.
    void cancel();

signals:
    // The socket is reparented to nothing; bytes the node sent after its handshake reply
    // stay unread in the socket.
    void ready(QTcpSocket *socket);
    void failed(const QString &reason);

private:
    UpstreamConnector(const Upstream &upstream, const Endpoint &target, QObject *parent, int timeoutMs);
    void start();
    void onConnected();
    void onReadyRead();
    void sendSocksRequest();
    void succeed();
    void fail(const QString &reason);

    enum class Stage { connecting, socksGreeting, socksAuth, socksReply, httpReply, done };

    Upstream m_upstream;
    Endpoint m_target;
    QTcpSocket *m_socket;
    QTimer m_timer;
    Stage m_stage = Stage::connecting;
    QByteArray m_buffer;
};

} // namespace veyra::proxy
