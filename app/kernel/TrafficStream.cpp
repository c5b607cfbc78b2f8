#include "TrafficStream.h"

#include "ResumeRelay.h"

#include <QNetworkProxy>
#include <QNetworkRequest>
#include <QTimer>

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
    connect(&m_socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this, [this] {
        m_oversized = m_oversized || m_socket.closeCode() == QWebSocketProtocol::CloseCodeTooMuchData;
        fail(m_socket.errorString());
    });
    connect(&m_socket, &QWebSocket::disconnected, this, [this] {
        // A frame above the socket's own limit ends the stream with "too much data"; that is
        // bad data from the kernel, not a transport failure.
        m_oversized = m_oversized || m_socket.closeCode() == QWebSocketProtocol::CloseCodeTooMuchData;
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

void TrafficStream::ChangeAwaiter::await_suspend(std::coroutine_handle<> waiting)
{
    // Whichever comes first (a change, the stream's destruction or the time-out) resumes.
    auto *relay = new ResumeRelay(
        waiting, std::chrono::milliseconds(timeoutMs), [changed = changed](bool happened) { *changed = happened; });
    QObject::connect(stream, &TrafficStream::changed, relay, [relay] { relay->fire(true); });
    QObject::connect(stream, &QObject::destroyed, relay, [relay] { relay->fire(true); });
}

void TrafficStream::cancel()
{
    if (!m_failure)
        m_failure = QStringLiteral("cancelled");
    m_socket.close(QWebSocketProtocol::CloseCodeGoingAway);
    emit changed();
}

} // namespace veyra
