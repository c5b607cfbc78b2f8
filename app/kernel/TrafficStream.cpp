#include "TrafficStream.h"

#include <QNetworkProxy>
#include <QNetworkRequest>

namespace veyra {

TrafficStream::TrafficStream(const QUrl &url, const QByteArray &bearerSecret, int timeoutMs, QObject *parent)
    : QObject(parent)
{
    m_socket.setProxy(QNetworkProxy::NoProxy);
    m_socket.setMaxAllowedIncomingFrameSize(maximumFrame);
    m_socket.setMaxAllowedIncomingMessageSize(maximumFrame);
    const auto enqueue = [this](const QByteArray &message) {
        if (m_messages.size() >= maximumQueued)
            m_messages.pop_front();
        m_messages.push_back(message);
        emit changed();
    };
    connect(&m_socket, &QWebSocket::textMessageReceived, this,
        [enqueue](const QString &message) { enqueue(message.toUtf8()); });
    connect(&m_socket, &QWebSocket::binaryMessageReceived, this, enqueue);
    connect(&m_socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
        [this] { fail(m_socket.errorString()); });
    connect(&m_socket, &QWebSocket::disconnected, this, [this] {
        const QString reason = m_socket.closeReason();
        fail(reason.isEmpty() ? QStringLiteral("The connection was closed.") : reason);
    });

    QNetworkRequest request(url);
    request.setRawHeader("Authorization", "Bearer " + bearerSecret);
    request.setTransferTimeout(timeoutMs);
    m_socket.open(request);
}

QByteArray TrafficStream::takeMessage()
{
    QByteArray message = std::move(m_messages.front());
    m_messages.pop_front();
    return message;
}

void TrafficStream::fail(const QString &reason)
{
    if (m_failure)
        return;
    m_failure = reason;
    emit changed();
}

void TrafficStream::cancel()
{
    if (!m_failure)
        m_failure = QStringLiteral("cancelled");
    m_socket.close(QWebSocketProtocol::CloseCodeGoingAway);
    emit changed();
}

} // namespace veyra
