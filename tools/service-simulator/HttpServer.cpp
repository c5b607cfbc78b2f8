#include "HttpServer.h"

#include <QPointer>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>

namespace sim {

namespace {

// Per-connection parser state, owned by the socket.
class Connection : public QObject {
public:
    using QObject::QObject;
    QByteArray buffer;
    bool busy = false; // a (possibly delayed) reply is still owed; later requests wait
};

Connection *connectionOf(QSslSocket *socket)
{
    return static_cast<Connection *>(socket->property("connection").value<QObject *>());
}

} // namespace

QByteArray HttpRequest::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

QByteArray HttpRequest::path() const
{
    const qsizetype mark = target.indexOf('?');
    return mark < 0 ? target : target.left(mark);
}

QByteArray HttpRequest::query() const
{
    const qsizetype mark = target.indexOf('?');
    return mark < 0 ? QByteArray() : target.mid(mark + 1);
}

HttpResponse HttpResponse::json(int status, const QByteArray &body)
{
    HttpResponse response;
    response.status = status;
    response.addHeader("Content-Type", "application/json; charset=utf-8");
    response.body = body;
    return response;
}

HttpResponse HttpResponse::text(int status, const QByteArray &body, const QByteArray &type)
{
    HttpResponse response;
    response.status = status;
    response.addHeader("Content-Type", type);
    response.body = body;
    return response;
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 204:
        return "No Content";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 409:
        return "Conflict";
    case 411:
        return "Length Required";
    case 413:
        return "Payload Too Large";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    default:
        return "Status";
    }
}

HttpServer::HttpServer(QSslCertificate certificate, QSslKey key, Handler handler, QObject *parent)
    : QTcpServer(parent)
    , m_certificate(std::move(certificate))
    , m_key(std::move(key))
    , m_handler(std::move(handler))
{
}

void HttpServer::incomingConnection(qintptr descriptor)
{
    auto *socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    socket->setProperty("connection", QVariant::fromValue<QObject *>(new Connection(socket)));
    socket->setLocalCertificate(m_certificate);
    socket->setPrivateKey(m_key);
    socket->setPeerVerifyMode(QSslSocket::VerifyNone);
    connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QSslSocket::errorOccurred, socket, [socket](QAbstractSocket::SocketError) {
        socket->abort();
        socket->deleteLater();
    });
    connect(socket, &QSslSocket::readyRead, this, [this, socket] { serve(socket); });
    // Idle or stuck clients are dropped so no connection lives forever.
    auto *idle = new QTimer(socket);
    idle->setSingleShot(true);
    idle->setInterval(120'000);
    connect(idle, &QTimer::timeout, socket, [socket] { socket->disconnectFromHost(); });
    connect(socket, &QSslSocket::readyRead, idle, qOverload<>(&QTimer::start));
    idle->start();
    socket->startServerEncryption();
}

void HttpServer::serve(QSslSocket *socket)
{
    Connection *state = connectionOf(socket);
    if (!state)
        return;
    state->buffer.append(socket->readAll());
    while (!state->busy) {
        const qsizetype headEnd = state->buffer.indexOf("\r\n\r\n");
        if (headEnd < 0) {
            if (state->buffer.size() > maximumHead)
                respond(socket, HttpResponse::text(431, "request head too large\n"), false);
            return;
        }
        if (headEnd > maximumHead) {
            respond(socket, HttpResponse::text(431, "request head too large\n"), false);
            return;
        }
        const QList<QByteArray> lines = state->buffer.left(headEnd).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        if (requestLine.size() != 3 || !requestLine[2].startsWith("HTTP/1.")) {
            respond(socket, HttpResponse::text(400, "malformed request line\n"), false);
            return;
        }
        HttpRequest request;
        request.method = requestLine[0];
        request.target = requestLine[1];
        request.localAddress = socket->localAddress();
        request.localPort = socket->localPort();
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0) {
                respond(socket, HttpResponse::text(400, "malformed header\n"), false);
                return;
            }
            request.headers.append(qMakePair(line.left(colon).trimmed(), line.mid(colon + 1).trimmed()));
        }
        if (!request.header("Transfer-Encoding").isEmpty()) {
            respond(socket, HttpResponse::text(411, "chunked bodies are not accepted\n"), false);
            return;
        }
        bool numeric = true;
        const QByteArray lengthText = request.header("Content-Length");
        const qint64 length = lengthText.isEmpty() ? 0 : lengthText.toLongLong(&numeric);
        if (!numeric || length < 0) {
            respond(socket, HttpResponse::text(400, "bad content length\n"), false);
            return;
        }
        if (length > maximumBody) {
            respond(socket, HttpResponse::text(413, "body too large\n"), false);
            return;
        }
        if (state->buffer.size() < headEnd + 4 + length)
            return; // the rest of the body has not arrived yet
        request.body = state->buffer.mid(headEnd + 4, length);
        state->buffer.remove(0, headEnd + 4 + length);

        const bool keepAlive = request.header("Connection").compare("close", Qt::CaseInsensitive) != 0;
        const HttpResponse response = m_handler(request);
        if (response.delayMs <= 0) {
            respond(socket, response, keepAlive);
            continue;
        }
        state->busy = true;
        QPointer<QSslSocket> guarded(socket);
        QTimer::singleShot(response.delayMs, this, [this, guarded, response, keepAlive] {
            if (!guarded)
                return;
            respond(guarded, response, keepAlive);
            if (Connection *later = connectionOf(guarded)) {
                later->busy = false;
                if (!later->buffer.isEmpty())
                    serve(guarded);
            }
        });
        return;
    }
}

void HttpServer::respond(QSslSocket *socket, const HttpResponse &response, bool keepAlive)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status) + "\r\n";
    for (const auto &[name, value] : response.headers)
        head += name + ": " + value + "\r\n";
    if (response.closeDelimited)
        keepAlive = false;
    else
        head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    head += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    socket->write(head);
    socket->write(response.body);
    if (!keepAlive) {
        if (Connection *state = connectionOf(socket))
            state->busy = true; // nothing more is read from a connection being closed
        socket->disconnectFromHost();
    }
}

} // namespace sim
