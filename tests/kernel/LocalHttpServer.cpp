#include "LocalHttpServer.h"

#include <QSslConfiguration>
#include <QSslServer>
#include <QTcpSocket>
#include <QTimer>

namespace veyra::test {

LocalHttpServer::LocalHttpServer()
    : m_server(std::make_unique<QTcpServer>())
    , m_scheme(QStringLiteral("http"))
{
    listen();
}

LocalHttpServer::LocalHttpServer(const QSslConfiguration &tls)
    : m_scheme(QStringLiteral("https"))
{
    auto server = std::make_unique<QSslServer>();
    server->setSslConfiguration(tls);
    m_server = std::move(server);
    listen();
}

void LocalHttpServer::listen()
{
    m_server->listen(QHostAddress::LocalHost, 0);
    // Connections become available once they are ready to carry requests: at once for plain
    // TCP, after the handshake for TLS.
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket *socket = m_server->nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            // A request that came with the end of the TLS handshake is already waiting.
            if (socket->bytesAvailable() > 0)
                serve(socket);
        }
    });
}

void LocalHttpServer::route(const QByteArray &path, Response response)
{
    m_routes.insert(path, std::move(response));
}

QString LocalHttpServer::url(const QByteArray &path) const
{
    return QStringLiteral("%1://127.0.0.1:%2").arg(m_scheme).arg(port()) + QString::fromUtf8(path);
}

void LocalHttpServer::serve(QTcpSocket *socket)
{
    if (socket->property("served").toBool())
        return;
    const QByteArray head = socket->peek(64 * 1024);
    const qsizetype end = head.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    socket->setProperty("served", true);
    socket->read(end + 4);
    const QList<QByteArray> lines = head.left(end).split('\n');
    Request request;
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    request.method = first.value(0);
    request.target = first.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }
    m_requests.append(request);

    // Requests through an HTTP proxy arrive in origin form; direct ones too. Either way the path decides.
    QByteArray path = request.target;
    if (path.startsWith("http://"))
        path = path.mid(path.indexOf('/', 7));
    const qsizetype question = path.indexOf('?');
    if (question >= 0)
        path = path.left(question);
    const auto found = m_routes.constFind(path);
    const Response response = found != m_routes.constEnd() ? *found : Response { 404, {}, "not found" };

    QByteArray reply = "HTTP/1.1 " + QByteArray::number(response.status) + " Status\r\n";
    for (const auto &[name, value] : response.headers)
        reply += name + ": " + value + "\r\n";
    reply += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\nConnection: close\r\n\r\n";
    socket->write(reply);
    if (request.method == "HEAD" || response.body.isEmpty()) {
        socket->disconnectFromHost();
        return;
    }
    const int chunks = std::max(1, response.chunks);
    const qsizetype piece = (response.body.size() + chunks - 1) / chunks;
    auto sent = std::make_shared<int>(0);
    auto *timer = new QTimer(socket);
    connect(timer, &QTimer::timeout, socket, [socket, timer, sent, piece, chunks, body = response.body] {
        socket->write(body.mid(*sent * piece, piece));
        if (++*sent >= chunks) {
            timer->stop();
            socket->disconnectFromHost();
        }
    });
    timer->start(response.intervalMs);
}

} // namespace veyra::test
