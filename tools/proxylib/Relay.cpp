#include "Relay.h"

#include <QTimer>

namespace veyra::proxy {

Relay *Relay::start(
    QTcpSocket *client, QTcpSocket *upstream, const QByteArray &pendingUp, Counter counter, QObject *parent)
{
    auto *relay = new Relay(client, upstream, std::move(counter), parent);
    if (!pendingUp.isEmpty()) {
        upstream->write(pendingUp);
        if (relay->m_counter)
            relay->m_counter(pendingUp.size(), 0);
    }
    // Whatever already arrived before the relay existed would otherwise wait for the next
    // readyRead, which may never come.
    QMetaObject::invokeMethod(
        relay,
        [relay] {
            relay->pump(relay->m_client, relay->m_upstream);
            relay->pump(relay->m_upstream, relay->m_client);
        },
        Qt::QueuedConnection);
    return relay;
}

Relay::Relay(QTcpSocket *client, QTcpSocket *upstream, Counter counter, QObject *parent)
    : QObject(parent)
    , m_client(client)
    , m_upstream(upstream)
    , m_counter(std::move(counter))
{
    for (QTcpSocket *socket : { m_client, m_upstream }) {
        socket->setParent(this);
        socket->setReadBufferSize(chunk);
        disconnect(socket, nullptr, nullptr, nullptr);
    }
    connect(m_client, &QTcpSocket::readyRead, this, [this] { pump(m_client, m_upstream); });
    connect(m_upstream, &QTcpSocket::readyRead, this, [this] { pump(m_upstream, m_client); });
    connect(m_upstream, &QTcpSocket::bytesWritten, this, [this] { pump(m_client, m_upstream); });
    connect(m_client, &QTcpSocket::bytesWritten, this, [this] { pump(m_upstream, m_client); });
    connect(m_client, &QTcpSocket::disconnected, this, [this] { onDisconnected(m_client); });
    connect(m_upstream, &QTcpSocket::disconnected, this, [this] { onDisconnected(m_upstream); });
    connect(m_client, &QTcpSocket::errorOccurred, this, [this] {
        if (m_client->state() == QAbstractSocket::UnconnectedState)
            onDisconnected(m_client);
    });
    connect(m_upstream, &QTcpSocket::errorOccurred, this, [this] {
        if (m_upstream->state() == QAbstractSocket::UnconnectedState)
            onDisconnected(m_upstream);
    });
}

void Relay::pump(QTcpSocket *from, QTcpSocket *to)
{
    if (m_finishing)
        return;
    while (from->bytesAvailable() > 0 && to->bytesToWrite() < highWater
        && to->state() == QAbstractSocket::ConnectedState) {
        const QByteArray data = from->read(chunk);
        if (data.isEmpty())
            break;
        to->write(data);
        if (m_counter) {
            if (from == m_client)
                m_counter(data.size(), 0);
            else
                m_counter(0, data.size());
        }
    }
}

void Relay::onDisconnected(QTcpSocket *which)
{
    if (m_finishing)
        return;
    QTcpSocket *other = which == m_client ? m_upstream : m_client;
    // Forward what the closing side still had buffered, then let the other side drain and close.
    if (which->bytesAvailable() > 0 && other->state() == QAbstractSocket::ConnectedState) {
        const QByteArray rest = which->readAll();
        other->write(rest);
        if (m_counter)
            which == m_client ? m_counter(rest.size(), 0) : m_counter(0, rest.size());
    }
    finish();
}

void Relay::finish()
{
    m_finishing = true;
    emit finished();
    const auto closeWhenBothGone = [this] {
        if (m_client->state() == QAbstractSocket::UnconnectedState
            && m_upstream->state() == QAbstractSocket::UnconnectedState)
            deleteLater();
    };
    for (QTcpSocket *socket : { m_client, m_upstream }) {
        if (socket->state() == QAbstractSocket::UnconnectedState)
            continue;
        connect(socket, &QTcpSocket::disconnected, this, closeWhenBothGone);
        // disconnectFromHost waits for pending writes before closing.
        socket->disconnectFromHost();
    }
    closeWhenBothGone();
    // A peer that never reads its last bytes must not keep the relay alive forever.
    auto *guard = new QTimer(this);
    guard->setSingleShot(true);
    connect(guard, &QTimer::timeout, this, [this] {
        m_client->abort();
        m_upstream->abort();
        deleteLater();
    });
    guard->start(30'000);
}

} // namespace veyra::proxy
