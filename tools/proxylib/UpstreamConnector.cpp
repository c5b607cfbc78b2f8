#include "UpstreamConnector.h"

#include "Socks5.h"

#include <QHostAddress>
#include <QNetworkProxy>

namespace veyra::proxy {

namespace {

// A node's reply headers larger than this are not a proxy talking.
constexpr qsizetype maximumReplyHeader = 16 * 1024;

QByteArray socksAddress(const QString &host)
{
    QHostAddress address;
    QByteArray bytes;
    if (address.setAddress(host) && address.protocol() == QAbstractSocket::IPv4Protocol) {
        const quint32 v4 = address.toIPv4Address();
        bytes.append('\x01');
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.append(static_cast<char>((v4 >> shift) & 0xff));
    } else if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        const Q_IPV6ADDR v6 = address.toIPv6Address();
        bytes.append('\x04');
        bytes.append(reinterpret_cast<const char *>(v6.c), 16);
    } else {
        const QByteArray name = host.toUtf8();
        bytes.append('\x03');
        bytes.append(static_cast<char>(name.size()));
        bytes.append(name);
    }
    return bytes;
}

} // namespace

UpstreamConnector *UpstreamConnector::open(
    const Upstream &upstream, const Endpoint &target, QObject *parent, int timeoutMs)
{
    auto *connector = new UpstreamConnector(upstream, target, parent, timeoutMs);
    // Started from the event loop so that callers can connect to the signals first.
    QMetaObject::invokeMethod(connector, &UpstreamConnector::start, Qt::QueuedConnection);
    return connector;
}

UpstreamConnector::UpstreamConnector(const Upstream &upstream, const Endpoint &target, QObject *parent, int timeoutMs)
    : QObject(parent)
    , m_upstream(upstream)
    , m_target(target)
    , m_socket(new QTcpSocket(this))
{
    m_socket->setProxy(QNetworkProxy::NoProxy);
    m_timer.setSingleShot(true);
    m_timer.setInterval(timeoutMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { fail(QStringLiteral("upstream handshake timed out")); });
    connect(m_socket, &QTcpSocket::connected, this, &UpstreamConnector::onConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &UpstreamConnector::onReadyRead);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this] { fail(m_socket->errorString()); });
}

void UpstreamConnector::cancel()
{
    if (m_stage == Stage::done)
        return;
    m_stage = Stage::done;
    m_timer.stop();
    m_socket->abort();
    deleteLater();
}

void UpstreamConnector::start()
{
    if (m_stage == Stage::done)
        return;
    if (m_upstream.kind == Upstream::Kind::reject) {
        fail(QStringLiteral("rejected by rule"));
        return;
    }
    m_timer.start();
    if (m_upstream.kind == Upstream::Kind::direct)
        m_socket->connectToHost(m_target.host, m_target.port, QIODevice::ReadWrite,
            m_upstream.ipv4Only ? QAbstractSocket::IPv4Protocol : QAbstractSocket::AnyIPProtocol);
    else
        m_socket->connectToHost(m_upstream.host, m_upstream.port);
}

void UpstreamConnector::onConnected()
{
    switch (m_upstream.kind) {
    case Upstream::Kind::direct:
        succeed();
        return;
    case Upstream::Kind::socks5: {
        m_stage = Stage::socksGreeting;
        const bool withCredentials = !m_upstream.username.isEmpty();
        m_socket->write(withCredentials ? QByteArray("\x05\x02\x00\x02", 4) : QByteArray("\x05\x01\x00", 3));
        return;
    }
    case Upstream::Kind::http: {
        m_stage = Stage::httpReply;
        QByteArray request = "CONNECT " + m_target.authority().toUtf8()
            + " HTTP/1.1\r\nHost: " + m_target.authority().toUtf8() + "\r\n";
        if (!m_upstream.username.isEmpty()) {
            const QByteArray credentials = (m_upstream.username + QLatin1Char(':') + m_upstream.password).toUtf8();
            request += "Proxy-Authorization: Basic " + credentials.toBase64() + "\r\n";
        }
        m_socket->write(request + "\r\n");
        return;
    }
    case Upstream::Kind::reject:
        break;
    }
    fail(QStringLiteral("rejected by rule"));
}

void UpstreamConnector::sendSocksRequest()
{
    QByteArray request("\x05\x01\x00", 3);
    request += socksAddress(m_target.host);
    request.append(static_cast<char>(m_target.port >> 8));
    request.append(static_cast<char>(m_target.port & 0xff));
    m_socket->write(request);
    m_stage = Stage::socksReply;
}

void UpstreamConnector::onReadyRead()
{
    // Reads only what the current stage needs, so that data following the handshake reply
    // stays in the socket for whoever takes it over.
    while (m_stage != Stage::done && m_stage != Stage::connecting) {
        switch (m_stage) {
        case Stage::socksGreeting: {
            if (m_socket->bytesAvailable() < 2)
                return;
            const QByteArray reply = m_socket->read(2);
            if (reply[0] != 0x05) {
                fail(QStringLiteral("node is not a SOCKS5 server"));
                return;
            }
            if (reply[1] == 0x00) {
                sendSocksRequest();
            } else if (reply[1] == 0x02 && !m_upstream.username.isEmpty()) {
                const QByteArray user = m_upstream.username.toUtf8().left(255);
                const QByteArray pass = m_upstream.password.toUtf8().left(255);
                QByteArray auth("\x01", 1);
                auth.append(static_cast<char>(user.size())).append(user);
                auth.append(static_cast<char>(pass.size())).append(pass);
                m_socket->write(auth);
                m_stage = Stage::socksAuth;
            } else {
                fail(QStringLiteral("node accepts none of our authentication methods"));
                return;
            }
            break;
        }
        case Stage::socksAuth: {
            if (m_socket->bytesAvailable() < 2)
                return;
            const QByteArray reply = m_socket->read(2);
            if (reply[1] != 0x00) {
                fail(QStringLiteral("node refused the credentials"));
                return;
            }
            sendSocksRequest();
            break;
        }
        case Stage::socksReply: {
            const QByteArray head = m_socket->peek(5);
            if (head.size() < 5)
                return;
            if (head[0] != 0x05 || head[1] != 0x00) {
                fail(QStringLiteral("node refused the connection (SOCKS5 reply %1)").arg(int(uchar(head[1]))));
                return;
            }
            const std::optional<qint64> length = socks5MessageLength(head);
            if (!length) {
                fail(QStringLiteral("node sent a malformed SOCKS5 reply"));
                return;
            }
            if (m_socket->bytesAvailable() < *length)
                return;
            m_socket->read(*length);
            succeed();
            return;
        }
        case Stage::httpReply: {
            const QByteArray available = m_socket->peek(maximumReplyHeader);
            const qsizetype end = available.indexOf("\r\n\r\n");
            if (end < 0) {
                if (available.size() >= maximumReplyHeader)
                    fail(QStringLiteral("node sent an oversized reply"));
                return;
            }
            const QByteArray header = m_socket->read(end + 4);
            const QList<QByteArray> statusLine = header.left(header.indexOf("\r\n")).split(' ');
            const int status = statusLine.size() >= 2 ? statusLine[1].toInt() : 0;
            if (status < 200 || status > 299) {
                fail(QStringLiteral("node refused the tunnel (HTTP %1)").arg(status));
                return;
            }
            succeed();
            return;
        }
        case Stage::connecting:
        case Stage::done:
            return;
        }
    }
}

void UpstreamConnector::succeed()
{
    if (m_stage == Stage::done)
        return;
    m_stage = Stage::done;
    m_timer.stop();
    disconnect(m_socket, nullptr, this, nullptr);
    m_socket->setParent(nullptr);
    QTcpSocket *socket = m_socket;
    m_socket = nullptr;
    emit ready(socket);
    deleteLater();
}

void UpstreamConnector::fail(const QString &reason)
{
    if (m_stage == Stage::done)
        return;
    m_stage = Stage::done;
    m_timer.stop();
    if (m_socket)
        m_socket->abort();
    emit failed(reason);
    deleteLater();
}

} // namespace veyra::proxy
