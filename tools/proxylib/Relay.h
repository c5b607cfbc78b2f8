#pragma once

#include <QObject>
#include <QTcpSocket>

#include <functional>

namespace veyra::proxy {

// Copies bytes both ways between a client socket and an upstream socket until either side
// closes, then closes the other after flushing what is pending. Memory stays bounded: a side
// is only read while the opposite side has less than `highWater` bytes waiting to be sent,
// and each socket's own read buffer is capped, so a slow reader slows the fast writer down
// through TCP instead of filling memory. Deletes itself and both sockets when done.
class Relay : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 chunk = 64 * 1024;
    static constexpr qint64 highWater = 256 * 1024;

    // Counts bytes as they are forwarded: `up` client → upstream, `down` upstream → client.
    using Counter = std::function<void(qint64 up, qint64 down)>;

    // Takes ownership of both sockets. `pendingUp` is sent upstream first (bytes the client
    // sent together with its handshake).
    static Relay *start(QTcpSocket *client, QTcpSocket *upstream, const QByteArray &pendingUp, Counter counter,
        QObject *parent = nullptr);

signals:
    void finished();

private:
    Relay(QTcpSocket *client, QTcpSocket *upstream, Counter counter, QObject *parent);
    void pump(QTcpSocket *from, QTcpSocket *to);
    void onDisconnected(QTcpSocket *which);
    void finish();

    QTcpSocket *m_client;
    QTcpSocket *m_upstream;
    Counter m_counter;
    bool m_finishing = false;
};

} // namespace veyra::proxy
