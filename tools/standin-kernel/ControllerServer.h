#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>

namespace standin {

// A parsed controller request.
struct HttpRequest {
    QByteArray method;
    QString path; // percent-decoded, without the query
    QMap<QString, QString> query;
    QMap<QByteArray, QByteArray> headers; // names lower-cased
    QByteArray body;
};

struct HttpResponse {
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
};

// The controller's listener: HTTP/1.1 requests answered one per connection, bearer-secret
// checks, and WebSocket upgrades for streams. Routing of requests is the owner's business.
class ControllerServer : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype maximumHeader = 16 * 1024;
    static constexpr qsizetype maximumBody = 1024 * 1024;

    // Answers a request; `respond` may be called later (for measurements), exactly once.
    using Handler = std::function<void(const HttpRequest &, std::function<void(HttpResponse)> respond)>;

    ControllerServer(QString secret, Handler handler, QObject *parent = nullptr);

    bool listen(const QHostAddress &address, quint16 port);
    QString errorString() const { return m_server.errorString(); }

    // Paths that accept a WebSocket upgrade; messages go to every open stream of that path.
    void addStream(const QString &path);
    void broadcast(const QString &path, const QByteArray &text);
    int streamCount(const QString &path) const;

private:
    struct Stream {
        QTcpSocket *socket;
        QString path;
        QByteArray pending;
    };

    void onConnection(QTcpSocket *socket);
    void onReadable(QTcpSocket *socket);
    bool authorised(const HttpRequest &request) const;
    void upgrade(QTcpSocket *socket, const HttpRequest &request);
    void readFrames(Stream &stream);
    void dropStream(QTcpSocket *socket);

    QString m_secret;
    Handler m_handler;
    QTcpServer m_server;
    QStringList m_streamPaths;
    QList<Stream> m_streams;
};

QByteArray websocketFrame(quint8 opcode, const QByteArray &payload);

} // namespace standin
