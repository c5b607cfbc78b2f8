#include "InboundSession.h"

#include "Socks5.h"
#include "UpstreamConnector.h"

#include <QHostAddress>
#include <QUrl>
#include <QtEndian>

#include <cstring>

namespace veyra::proxy {

namespace {

// Reply codes of RFC 1928.
constexpr char socksSucceeded = 0x00;
constexpr char socksGeneralFailure = 0x01;
constexpr char socksNotAllowed = 0x02;
constexpr char socksHostUnreachable = 0x04;
constexpr char socksCommandNotSupported = 0x07;
constexpr char socksAddressNotSupported = 0x08;

QByteArray socksReply(char code)
{
    return QByteArray("\x05", 1) + code + QByteArray("\x00\x01\x00\x00\x00\x00\x00\x00", 8);
}

QByteArray httpReply(const QByteArray &status)
{
    return "HTTP/1.1 " + status + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}

bool isHopByHopProxyHeader(const QByteArray &name)
{
    const QByteArray lower = name.trimmed().toLower();
    return lower == "proxy-connection" || lower == "proxy-authorization" || lower == "connection"
        || lower == "keep-alive";
}

} // namespace

InboundSession::InboundSession(
    QTcpSocket *client, Accept accept, Router router, Relay::Counter counter, Observer observer, QObject *parent)
    : QObject(parent)
    , m_client(client)
    , m_accept(accept)
    , m_router(std::move(router))
    , m_counter(std::move(counter))
    , m_observer(std::move(observer))
{
    m_client->setParent(this);
    m_client->setReadBufferSize(maximumHeader);
    connect(m_client, &QTcpSocket::readyRead, this, &InboundSession::onReadyRead);
    connect(m_client, &QTcpSocket::disconnected, this, &InboundSession::abandon);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &InboundSession::abandon);
    m_timer.start(handshakeTimeoutMs);
    QMetaObject::invokeMethod(this, &InboundSession::onReadyRead, Qt::QueuedConnection);
}

void InboundSession::onReadyRead()
{
    for (;;) {
        switch (m_stage) {
        case Stage::detect: {
            const QByteArray first = m_client->peek(1);
            if (first.isEmpty())
                return;
            m_isSocks = first[0] == 0x05;
            if ((m_isSocks && m_accept == Accept::http) || (!m_isSocks && m_accept == Accept::socks5)) {
                abandon();
                return;
            }
            m_stage = m_isSocks ? Stage::socksGreeting : Stage::httpHeader;
            break;
        }
        case Stage::socksGreeting:
            if (!readSocksGreeting())
                return;
            break;
        case Stage::socksRequest:
            readSocksRequest();
            return;
        case Stage::httpHeader:
            readHttpHeader();
            return;
        case Stage::connecting:
            // Early data is kept in the socket and relayed once the upstream is open.
            return;
        }
    }
}

bool InboundSession::readSocksGreeting()
{
    const QByteArray head = m_client->peek(2);
    if (head.size() < 2)
        return false;
    const int methods = uchar(head[1]);
    if (m_client->bytesAvailable() < 2 + methods)
        return false;
    const QByteArray offered = m_client->read(2 + methods).mid(2);
    if (!offered.contains('\x00')) {
        m_client->write(QByteArray("\x05\xff", 2));
        m_client->disconnectFromHost();
        m_stage = Stage::connecting;
        return false;
    }
    m_client->write(QByteArray("\x05\x00", 2));
    m_stage = Stage::socksRequest;
    return true;
}

bool InboundSession::readSocksRequest()
{
    const QByteArray head = m_client->peek(5);
    if (head.size() < 5)
        return false;
    const std::optional<qint64> length = socks5MessageLength(head);
    if (!length) {
        m_client->write(socksReply(socksAddressNotSupported));
        m_client->disconnectFromHost();
        m_stage = Stage::connecting;
        return false;
    }
    if (m_client->bytesAvailable() < *length)
        return false;
    const QByteArray request = m_client->read(*length);
    if (request[0] != 0x05 || request[1] != 0x01) {
        m_client->write(socksReply(socksCommandNotSupported));
        m_client->disconnectFromHost();
        m_stage = Stage::connecting;
        return false;
    }
    Endpoint target;
    const auto *bytes = reinterpret_cast<const uchar *>(request.constData());
    if (request[3] == 0x01) {
        target.host = QHostAddress(qFromBigEndian<quint32>(bytes + 4)).toString();
    } else if (request[3] == 0x04) {
        Q_IPV6ADDR v6;
        std::memcpy(v6.c, bytes + 4, 16);
        target.host = QHostAddress(v6).toString();
    } else {
        target.host = QString::fromUtf8(request.mid(5, uchar(request[4])));
    }
    target.port = qFromBigEndian<quint16>(bytes + *length - 2);
    if (target.host.isEmpty() || target.port == 0) {
        m_client->write(socksReply(socksGeneralFailure));
        m_client->disconnectFromHost();
        m_stage = Stage::connecting;
        return false;
    }
    connectUpstream(target);
    return true;
}

bool InboundSession::readHttpHeader()
{
    const QByteArray available = m_client->peek(maximumHeader);
    const qsizetype end = available.indexOf("\r\n\r\n");
    if (end < 0) {
        if (available.size() >= maximumHeader) {
            m_client->write(httpReply("431 Request Header Fields Too Large"));
            m_client->disconnectFromHost();
            m_stage = Stage::connecting;
        }
        return false;
    }
    const QByteArray header = m_client->read(end + 4);
    QList<QByteArray> lines = header.left(end).split('\n');
    for (QByteArray &line : lines)
        line = line.trimmed();
    const QList<QByteArray> requestLine = lines.value(0).split(' ');
    if (requestLine.size() != 3) {
        m_client->write(httpReply("400 Bad Request"));
        m_client->disconnectFromHost();
        m_stage = Stage::connecting;
        return false;
    }
    const QByteArray method = requestLine[0];
    std::optional<Endpoint> target;
    if (method == "CONNECT") {
        m_isConnectMethod = true;
        target = parseAuthority(QString::fromUtf8(requestLine[1]));
    } else {
        // Absolute form: forward as an origin-form request on a connection of its own.
        const QUrl url(QString::fromUtf8(requestLine[1]), QUrl::StrictMode);
        if (url.isValid() && url.scheme() == QLatin1String("http") && !url.host().isEmpty()) {
            target = Endpoint { url.host(), static_cast<quint16>(url.port(80)) };
            QByteArray path = url.path(QUrl::FullyEncoded).toUtf8();
            if (path.isEmpty())
                path = "/";
            if (url.hasQuery())
                path += "?" + url.query(QUrl::FullyEncoded).toUtf8();
            m_forward = method + " " + path + " " + requestLine[2] + "\r\n";
            bool hasHost = false;
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const qsizetype colon = lines[i].indexOf(':');
                if (colon <= 0 || isHopByHopProxyHeader(lines[i].left(colon)))
                    continue;
                hasHost = hasHost || lines[i].left(colon).trimmed().toLower() == "host";
                m_forward += lines[i] + "\r\n";
            }
            if (!hasHost)
                m_forward += "Host: " + target->authority().toUtf8() + "\r\n";
            m_forward += "Connection: close\r\n\r\n";
        }
    }
    if (!target) {
        m_client->write(httpReply("400 Bad Request"));
        m_client->disconnectFromHost();
        m_stage = Stage::connecting;
        return false;
    }
    connectUpstream(*target);
    return true;
}

void InboundSession::connectUpstream(const Endpoint &target)
{
    m_stage = Stage::connecting;
    m_target = target;
    m_upstream = m_router ? m_router(target) : Upstream::direct();
    m_connector = UpstreamConnector::open(m_upstream, target, this);
    connect(m_connector, &UpstreamConnector::ready, this, &InboundSession::onUpstreamReady);
    connect(m_connector, &UpstreamConnector::failed, this, &InboundSession::onUpstreamFailed);
}

void InboundSession::onUpstreamReady(QTcpSocket *upstream)
{
    m_connector = nullptr;
    m_timer.stop();
    if (m_observer)
        m_observer(m_target, m_upstream, true);
    if (m_client->state() != QAbstractSocket::ConnectedState) {
        upstream->deleteLater();
        deleteLater();
        return;
    }
    if (m_isSocks)
        m_client->write(socksReply(socksSucceeded));
    else if (m_isConnectMethod)
        m_client->write("HTTP/1.1 200 Connection established\r\n\r\n");
    disconnect(m_client, nullptr, this, nullptr);
    // The relay becomes the sockets' owner; this session's work is done.
    Relay::start(m_client, upstream, m_forward, m_counter, parent());
    m_client = nullptr;
    deleteLater();
}

void InboundSession::onUpstreamFailed()
{
    m_connector = nullptr;
    if (m_observer)
        m_observer(m_target, m_upstream, false);
    const bool rejected = m_upstream.kind == Upstream::Kind::reject;
    if (m_isSocks)
        m_client->write(socksReply(rejected ? socksNotAllowed : socksHostUnreachable));
    else
        m_client->write(httpReply(rejected ? "403 Forbidden" : "502 Bad Gateway"));
    m_client->disconnectFromHost();
    if (m_client->state() == QAbstractSocket::UnconnectedState)
        deleteLater();
    else
        connect(m_client, &QTcpSocket::disconnected, this, &QObject::deleteLater);
}

void InboundSession::abandon()
{
    if (m_connector) {
        m_connector->cancel();
        m_connector = nullptr;
    }
    if (m_client)
        m_client->abort();
    deleteLater();
}

} // namespace veyra::proxy
