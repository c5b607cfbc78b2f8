#pragma once

#include <QMap>
#include <QTcpServer>

#include <memory>

class QSslConfiguration;

namespace veyra::test {

// A small HTTP/1.1 origin server on 127.0.0.1 for the tests: provider documents, the 204
// check endpoint, redirects and slow downloads. One request per connection. Given a TLS
// configuration (certificate and key) it serves https instead.
class LocalHttpServer : public QObject {
    Q_OBJECT
public:
    struct Request {
        QByteArray method;
        QByteArray target;
        QMap<QByteArray, QByteArray> headers; // lower-cased names
    };
    struct Response {
        int status = 200;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
        int chunks = 1; // the body is sent in this many pieces...
        int intervalMs = 0; // ...this far apart
    };

    LocalHttpServer();
    explicit LocalHttpServer(const QSslConfiguration &tls);
    void route(const QByteArray &path, Response response);
    quint16 port() const { return m_server->serverPort(); }
    QString url(const QByteArray &path) const;
    const QList<Request> &requests() const { return m_requests; }

private:
    void listen();
    void serve(QTcpSocket *socket);

    std::unique_ptr<QTcpServer> m_server;
    QString m_scheme;
    QMap<QByteArray, Response> m_routes;
    QList<Request> m_requests;
};

} // namespace veyra::test
