#include "ServiceSimulator.h"

#include "TestSupport.h"

#include <QCoroNetworkReply>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QSslConfiguration>

#include <csignal>
#include <sys/prctl.h>

namespace veyra::test {

namespace {

QCoro::Task<Fetched> fetchTask(
    QUrl url, QList<QSslCertificate> certificates, QByteArray method, QNetworkProxy proxy, QByteArray body = {})
{
    QNetworkAccessManager network;
    network.setProxy(proxy);
    QNetworkRequest request(url);
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.addCaCertificates(certificates);
    request.setSslConfiguration(tls);
    if (!body.isEmpty())
        request.setRawHeader("Content-Type", "application/json");
    std::unique_ptr<QNetworkReply> reply(network.sendCustomRequest(request, method, body));
    co_await qCoro(reply.get()).waitForFinished(std::chrono::seconds(10));
    Fetched fetched;
    fetched.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    fetched.body = reply->readAll();
    fetched.headers = reply->rawHeaderPairs();
    co_return fetched;
}

} // namespace

ServiceSimulator::ServiceSimulator(const QStringList &extraArguments)
{
    const QString key = m_dir.filePath(QStringLiteral("server.key"));
    const QString certificate = m_dir.filePath(QStringLiteral("server.pem"));
    QProcess openssl;
    openssl.start("openssl",
        { "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key, "-out",
            certificate, "-days", "2", "-subj", "/CN=Veyra test service", "-addext",
            "subjectAltName=IP:127.0.0.1,IP:127.0.0.2,DNS:localhost,DNS:" + QString::fromLatin1(lineHost) });
    if (!openssl.waitForFinished(30'000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        ADD_FAILURE() << "openssl could not make a test certificate";
        return;
    }
    m_certificates = QSslCertificate::fromPath(certificate);

    m_process.setProgram(QStringLiteral(VEYRA_SERVICE_SIMULATOR));
    m_process.setArguments(
        QStringList { "--cert", certificate, "--key", key, "--listen", "127.0.0.1:0", "--listen", "127.0.0.2:0" }
        + extraArguments);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Dies with the test process, even when a test is killed by its time-out.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    m_process.start();
    QElapsedTimer clock;
    clock.start();
    QByteArray output;
    while (clock.elapsed() < 10'000 && !output.contains("ready\n")) {
        if (!m_process.waitForReadyRead(500) && m_process.state() == QProcess::NotRunning)
            break;
        output += m_process.readAllStandardOutput();
    }
    for (const QByteArray &line : output.split('\n'))
        if (line.startsWith("listening "))
            m_origins.append(QString::fromUtf8(line.mid(10)));
    if (!started())
        ADD_FAILURE() << "service simulator did not start: " << output.toStdString();
}

ServiceSimulator::~ServiceSimulator()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5'000);
    }
}

APIClientOptions ServiceSimulator::clientOptions() const
{
    APIClientOptions options;
    options.baseURL = QUrl(origin() + QStringLiteral("/api/v1/"));
    options.extraCACertificates = m_certificates;
    options.deviceID = QStringLiteral("test-device-0001");
    return options;
}

json::Json ServiceSimulator::admin(const QString &route, const json::Json &body)
{
    const bool get = body.is_null();
    const QByteArray reply
        = await(fetchTask(QUrl(origin() + QStringLiteral("/admin/") + route), m_certificates, get ? "GET" : "POST",
                    QNetworkProxy(QNetworkProxy::NoProxy), get ? QByteArray() : QByteArray::fromStdString(body.dump())))
              .body;
    json::Json parsed = json::Json::parse(reply.toStdString(), nullptr, false);
    EXPECT_FALSE(parsed.is_discarded()) << "admin " << route.toStdString() << ": " << reply.toStdString();
    return parsed;
}

QString ServiceSimulator::signedInToken(const QString &account, bool active)
{
    const json::Json reply = admin(QStringLiteral("accounts"),
        { { "account", account.toStdString() }, { "password", "password123" }, { "active", active },
            { "issueToken", true } });
    return QString::fromStdString(reply.value("token", std::string()));
}

void ServiceSimulator::fault(const QString &path, const json::Json &settings)
{
    json::Json body = settings;
    body["path"] = path.toStdString();
    admin(QStringLiteral("faults"), body);
}

QByteArray Fetched::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

Fetched fetch(
    const QUrl &url, const QList<QSslCertificate> &certificates, const QByteArray &method, const QNetworkProxy &proxy)
{
    return await(fetchTask(url, certificates, method, proxy));
}

std::optional<std::string> recordedHeader(const json::Json &request, const std::string &name)
{
    for (const json::Json &header : request.at("headers")) {
        const std::string key = header.at(0);
        if (QString::fromStdString(key).compare(QString::fromStdString(name), Qt::CaseInsensitive) == 0)
            return header.at(1).get<std::string>();
    }
    return std::nullopt;
}

} // namespace veyra::test
