#include "TrafficStream.h"

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
    // A one-shot relay object: whichever comes first (a change, the stream's destruction or
    // the time-out) schedules the resumption once and takes the relay down with it.
    auto *relay = new QObject();
    auto *timer = new QTimer(relay);
    timer->setSingleShot(true);
    auto fire = [relay, timer, waiting, changed = changed](bool happened) {
        if (relay->property("fired").toBool())
            return;
        relay->setProperty("fired", true);
        *changed = happened;
        timer->stop();
        QMetaObject::invokeMethod(
            relay,
            [relay, waiting] {
                relay->deleteLater();
                waiting.resume();
            },
            Qt::QueuedConnection);
    };
    QObject::connect(stream, &TrafficStream::changed, relay, [fire] { fire(true); });
    QObject::connect(stream, &QObject::destroyed, relay, [fire] { fire(true); });
    QObject::connect(timer, &QTimer::timeout, relay, [fire] { fire(false); });
    timer->start(timeoutMs);
}

void TrafficStream::cancel()
{
    if (!m_failure)
        m_failure = QStringLiteral("cancelled");
    m_socket.close(QWebSocketProtocol::CloseCodeGoingAway);
    emit changed();
}

} // namespace veyra
