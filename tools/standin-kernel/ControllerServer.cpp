#include "ControllerServer.h"

#include <QCryptographicHash>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

#include <memory>

namespace standin {

namespace {

QByteArray reason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 413:
        return "Payload Too Large";
    case 431:
        return "Request Header Fields Too Large";
    case 503:
        return "Service Unavailable";
    case 504:
        return "Gateway Timeout";
    default:
        return "Status";
    }
}

void send(QTcpSocket *socket, const HttpResponse &response)
{
    if (socket->state() != QAbstractSocket::ConnectedState)
        return;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " " + reason(response.status) + "\r\n";
    if (response.status != 204) {
        head += "Content-Type: " + response.contentType + "\r\n";
        head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    }
    head += "Connection: close\r\n\r\n";
    socket->write(head);
    if (response.status != 204)
        socket->write(response.body);
    socket->disconnectFromHost();
}

HttpResponse message(int status, const char *text)
{
    return { status, QByteArray("{\"message\":\"") + text + "\"}" };
}

} // namespace

QByteArray websocketFrame(quint8 opcode, const QByteArray &payload)
{
    QByteArray frame;
    frame.append(static_cast<char>(0x80 | opcode));
    const qsizetype size = payload.size();
    if (size < 126) {
        frame.append(static_cast<char>(size));
    } else if (size < 65536) {
        frame.append(static_cast<char>(126));
        frame.append(static_cast<char>(size >> 8));
        frame.append(static_cast<char>(size & 0xff));
    } else {
        frame.append(static_cast<char>(127));
        for (int shift = 56; shift >= 0; shift -= 8)
            frame.append(static_cast<char>((quint64(size) >> shift) & 0xff));
    }
    return frame + payload;
}

ControllerServer::ControllerServer(QString secret, Handler handler, QObject *parent)
    : QObject(parent)
    , m_secret(std::move(secret))
    , m_handler(std::move(handler))
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection())
            onConnection(socket);
    });
}

bool ControllerServer::listen(const QHostAddress &address, quint16 port)
{
    return m_server.listen(address, port);
}

void ControllerServer::addStream(const QString &path)
{
    m_streamPaths << path;
}

int ControllerServer::streamCount(const QString &path) const
{
    int count = 0;
    for (const Stream &stream : m_streams)
        count += stream.path == path ? 1 : 0;
    return count;
}

void ControllerServer::broadcast(const QString &path, const QByteArray &text)
{
    const QByteArray frame = websocketFrame(0x1, text);
    for (const Stream &stream : m_streams) {
        // A client that stops reading is not allowed to pile up frames here.
        if (stream.path == path && stream.socket->bytesToWrite() < 64 * 1024)
            stream.socket->write(frame);
    }
}

void ControllerServer::onConnection(QTcpSocket *socket)
{
    socket->setParent(this);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadable(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        dropStream(socket);
        socket->deleteLater();
    });
    // A client that never finishes its request does not hold a socket forever.
    QTimer::singleShot(30'000, socket, [this, socket] {
        for (const Stream &stream : m_streams)
            if (stream.socket == socket)
                return;
        socket->abort();
    });
}

void ControllerServer::onReadable(QTcpSocket *socket)
{
    for (Stream &stream : m_streams) {
        if (stream.socket == socket) {
            readFrames(stream);
            return;
        }
    }
    if (socket->property("handled").toBool())
        return;
    const QByteArray available = socket->peek(maximumHeader + maximumBody);
    const qsizetype end = available.indexOf("\r\n\r\n");
    if (end < 0) {
        if (available.size() >= maximumHeader)
            send(socket, message(431, "header too large"));
        return;
    }
    HttpRequest request;
    const QList<QByteArray> lines = available.left(end).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    if (requestLine.size() != 3) {
        send(socket, message(400, "bad request"));
        socket->setProperty("handled", true);
        return;
    }
    request.method = requestLine[0];
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }
    const qint64 length = request.headers.value("content-length", "0").toLongLong();
    if (length < 0 || length > maximumBody) {
        send(socket, message(413, "body too large"));
        socket->setProperty("handled", true);
        return;
    }
    if (available.size() < end + 4 + length)
        return;
    socket->read(end + 4);
    request.body = socket->read(length);
    const QByteArray target = requestLine[1];
    const qsizetype question = target.indexOf('?');
    request.path = QUrl::fromPercentEncoding(question < 0 ? target : target.left(question));
    if (question >= 0) {
        const QUrlQuery query(QString::fromUtf8(target.mid(question + 1)));
        for (const auto &[key, value] : query.queryItems(QUrl::FullyDecoded))
            request.query.insert(key, value);
    }
    socket->setProperty("handled", true);

    if (!authorised(request)) {
        send(socket, message(401, "Unauthorized"));
        return;
    }
    if (m_streamPaths.contains(request.path) && request.headers.value("upgrade").toLower() == "websocket") {
        upgrade(socket, request);
        return;
    }
    QPointer<QTcpSocket> guarded(socket);
    auto answered = std::make_shared<bool>(false);
    m_handler(request, [guarded, answered](HttpResponse response) {
        if (*answered || !guarded)
            return;
        *answered = true;
        send(guarded, response);
    });
}

bool ControllerServer::authorised(const HttpRequest &request) const
{
    if (m_secret.isEmpty())
        return true;
    const QByteArray expected = "Bearer " + m_secret.toUtf8();
    if (request.headers.value("authorization") == expected)
        return true;
    // Browsers cannot set headers on a WebSocket, so streams may carry the secret as a token.
    return m_streamPaths.contains(request.path) && request.query.value(QStringLiteral("token")) == m_secret;
}

void ControllerServer::upgrade(QTcpSocket *socket, const HttpRequest &request)
{
    const QByteArray key = request.headers.value("sec-websocket-key");
    if (key.isEmpty()) {
        send(socket, message(400, "missing Sec-WebSocket-Key"));
        return;
    }
    const QByteArray accept
        = QCryptographicHash::hash(key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11", QCryptographicHash::Sha1).toBase64();
    socket->write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                  "Sec-WebSocket-Accept: "
        + accept + "\r\n\r\n");
    m_streams.append({ socket, request.path, {} });
    readFrames(m_streams.last());
}

void ControllerServer::readFrames(Stream &stream)
{
    // Clients only ever send control frames here; anything else is read and discarded.
    stream.pending += stream.socket->readAll();
    if (stream.pending.size() > 256 * 1024) {
        stream.socket->abort();
        return;
    }
    for (;;) {
        const QByteArray &data = stream.pending;
        if (data.size() < 2)
            return;
        const quint8 opcode = quint8(data[0]) & 0x0f;
        const bool masked = quint8(data[1]) & 0x80;
        quint64 length = quint8(data[1]) & 0x7f;
        qsizetype offset = 2;
        if (length == 126) {
            if (data.size() < 4)
                return;
            length = (quint64(quint8(data[2])) << 8) | quint8(data[3]);
            offset = 4;
        } else if (length == 127) {
            if (data.size() < 10)
                return;
            length = 0;
            for (int i = 0; i < 8; ++i)
                length = (length << 8) | quint8(data[2 + i]);
            offset = 10;
        }
        if (length > 128 * 1024) {
            stream.socket->abort();
            return;
        }
        const qsizetype maskOffset = offset;
        if (masked)
            offset += 4;
        if (quint64(data.size()) < offset + length)
            return;
        QByteArray payload = data.mid(offset, static_cast<qsizetype>(length));
        if (masked)
            for (qsizetype i = 0; i < payload.size(); ++i)
                payload[i] = static_cast<char>(payload[i] ^ data[maskOffset + (i % 4)]);
        stream.pending.remove(0, offset + static_cast<qsizetype>(length));
        if (opcode == 0x8) {
            stream.socket->write(websocketFrame(0x8, payload.left(2)));
            stream.socket->disconnectFromHost();
            return;
        }
        if (opcode == 0x9)
            stream.socket->write(websocketFrame(0xA, payload));
    }
}

void ControllerServer::dropStream(QTcpSocket *socket)
{
    for (qsizetype i = 0; i < m_streams.size(); ++i) {
        if (m_streams[i].socket == socket) {
            m_streams.removeAt(i);
            return;
        }
    }
}

} // namespace standin
