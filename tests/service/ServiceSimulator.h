#pragma once

#include "APIClient.h"
#include "Json.h"

#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QSslCertificate>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

namespace veyra::test {

// Runs the service simulator on loopback for one test: a certificate made with openssl for
// 127.0.0.1 and 127.0.0.2, a listener on each address, and the admin interface for setting up
// accounts, orders and faults. The process is killed when the object goes away.
class ServiceSimulator {
public:
    // A made-up public name its certificate also carries, for a line handed out under it
    // (with --public-url) and fetched by a kernel told where that name lives.
    static constexpr const char *lineHost = "line.veyra.example";

    explicit ServiceSimulator(const QStringList &extraArguments = {});
    ~ServiceSimulator();

    bool started() const { return m_origins.size() == 2; }
    // "https://127.0.0.1:PORT" (listener 0) and "https://127.0.0.2:PORT" (listener 1).
    QString origin(int listener = 0) const { return m_origins.value(listener); }
    QList<QSslCertificate> certificates() const { return m_certificates; }
    QString certificatePath() const { return m_dir.filePath(QStringLiteral("server.pem")); }
    quint16 port(int listener = 0) const { return static_cast<quint16>(QUrl(origin(listener)).port()); }
    APIClientOptions clientOptions() const;

    // POST (or GET without a body) to /admin/<route>; the reply parsed.
    json::Json admin(const QString &route, const json::Json &body = json::Json());
    // The requests the simulator received, oldest first.
    json::Json requests() { return admin(QStringLiteral("requests")); }
    // A seeded account with a live token.
    QString signedInToken(const QString &account, bool active = false);
    // Replies to `path` (e.g. "/api/v1/me") with the given status and body until cleared.
    void fault(const QString &path, const json::Json &settings);

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QStringList m_origins;
    QList<QSslCertificate> m_certificates;
};

// A plain HTTPS exchange with the simulator (trusting its certificate), optionally through a proxy.
struct Fetched {
    int status = 0;
    QByteArray body;
    QList<QNetworkReply::RawHeaderPair> headers;
    QByteArray header(const QByteArray &name) const;
};
Fetched fetch(const QUrl &url, const QList<QSslCertificate> &certificates, const QByteArray &method = "GET",
    const QNetworkProxy &proxy = QNetworkProxy(QNetworkProxy::NoProxy));

// The value of a header in a recorded request, or nothing.
std::optional<std::string> recordedHeader(const json::Json &request, const std::string &name);

} // namespace veyra::test
