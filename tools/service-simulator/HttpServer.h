#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>

#include <functional>

class QSslSocket;

namespace sim {

struct HttpRequest {
    QByteArray method;
    QByteArray target; // exactly as sent, still percent-encoded
    QList<QPair<QByteArray, QByteArray>> headers; // in arrival order
    QByteArray body;
    QHostAddress localAddress;
    quint16 localPort = 0;

    QByteArray header(const QByteArray &name) const;
    QByteArray path() const; // target without the query
    QByteArray query() const;
};

struct HttpResponse {
    int status = 200;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    int delayMs = 0;
    // No Content-Length: the body ends when the connection closes, so a client only learns its
    // size by reading it.
    bool closeDelimited = false;

    void addHeader(const QByteArray &name, const QByteArray &value) { headers.append(qMakePair(name, value)); }

    static HttpResponse json(int status, const QByteArray &body);
    static HttpResponse text(int status, const QByteArray &body, const QByteArray &type = "text/plain; charset=utf-8");
};

using Handler = std::function<HttpResponse(const HttpRequest &)>;

// HTTPS/1.1 server with keep-alive. Parsing is bounded: a request head over 32 KiB, a body
// over 1 MiB or a chunked body closes the connection with an error status, so a misbehaving
// client cannot make the simulator buffer without limit.
class HttpServer : public QTcpServer {
    Q_OBJECT
public:
    static constexpr qsizetype maximumHead = 32 * 1024;
    static constexpr qsizetype maximumBody = 1024 * 1024;

    HttpServer(QSslCertificate certificate, QSslKey key, Handler handler, QObject *parent = nullptr);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void serve(QSslSocket *socket);
    void respond(QSslSocket *socket, const HttpResponse &response, bool keepAlive);

    QSslCertificate m_certificate;
    QSslKey m_key;
    Handler m_handler;
};

QByteArray reasonPhrase(int status);

} // namespace sim
