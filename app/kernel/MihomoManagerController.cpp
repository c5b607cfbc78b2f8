#include "MihomoManager.h"

#include "ChildProcess.h"
#include "ConfigCompiler.h"
#include "Errors.h"
#include "TrafficStream.h"

#include <QCoroNetworkReply>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <memory>

using namespace std::chrono_literals;

namespace veyra {

namespace {

// Waits for curl to finish; its own limits (8 s connect, 15 s total) end it well before this.
constexpr auto curlGrace = 25s;

QString selectableGroup()
{
    return QString::fromUtf8(ConfigCompiler::selectableGroup);
}

} // namespace

QCoro::Task<QByteArray> MihomoManager::controller(
    QString path, QByteArray method, std::optional<QByteArray> body, AppSettings settings)
{
    const QUrl url(QStringLiteral("http://127.0.0.1:%1/").arg(settings.controllerPort) + path, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        throw AppError(QStringLiteral("本地控制地址无效。"));

    QNetworkRequest request(url);
    request.setTransferTimeout(controllerTimeoutMs);
    request.setRawHeader("Authorization", "Bearer " + m_controllerSecret.toUtf8());
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    if (body)
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));

    QNetworkReply *reply
        = body ? m_session.sendCustomRequest(request, method, *body) : m_session.sendCustomRequest(request, method);
    std::unique_ptr<QNetworkReply, void (*)(QNetworkReply *)> owner(reply, [](QNetworkReply *r) {
        r->disconnect();
        r->deleteLater();
    });

    // The body is collected as it arrives and the request given up as soon as it passes the
    // cap, so a misbehaving local service cannot make us buffer without limit.
    QByteArray collected;
    bool oversized = false;
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [&] {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (oversized || status < 200 || status > 299) {
            // A failed request's body is never used: drop it as it comes.
            reply->readAll();
            return;
        }
        collected += reply->readAll();
        if (collected.size() > maximumControllerResponse) {
            oversized = true;
            reply->abort();
        }
    });
    QTimer resourceTimer;
    resourceTimer.setSingleShot(true);
    QObject::connect(&resourceTimer, &QTimer::timeout, reply, &QNetworkReply::abort);
    resourceTimer.start(resourceTimeoutMs);

    if (!reply->isFinished())
        co_await qCoro(reply).waitForFinished();
    resourceTimer.stop();
    if (!oversized)
        collected += reply->readAll();

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) {
        if (oversized)
            throw AppError(QStringLiteral("本地控制响应过大。"));
        throw SystemError(reply->errorString());
    }
    const int code = status.toInt();
    if (code < 200 || code > 299)
        throw AppError(QStringLiteral("Mihomo 本地控制请求失败。"));
    if (oversized || collected.size() > maximumControllerResponse)
        throw AppError(QStringLiteral("本地控制响应过大。"));
    if (reply->error() != QNetworkReply::NoError)
        throw SystemError(reply->errorString());
    co_return collected;
}

QList<NodeItem> MihomoManager::parseNodes(const QByteArray &body)
{
    const json::Json document = json::parse(body);
    const auto all = document.is_object() ? document.find("all") : document.end();
    bool valid = document.is_object() && all != document.end() && all->is_array();
    if (valid)
        for (const json::Json &name : *all)
            valid = valid && name.is_string();
    if (!valid)
        throw AppError(QStringLiteral("线路组尚未加载。"));

    static const QStringList hidden { QStringLiteral("DIRECT"), QStringLiteral("REJECT"), QStringLiteral("PASS"),
        QString::fromUtf8(ConfigCompiler::automaticGroup) };
    QList<NodeItem> items;
    for (const json::Json &entry : *all) {
        const QString name = json::qstr(entry.get<std::string>());
        if (hidden.contains(name))
            continue;
        const auto [regionName, flag] = region(name);
        items.append(NodeItem { name, regionName, flag, -1, QStringLiteral("维拉官方") });
    }
    return items;
}

QCoro::Task<QList<NodeItem>> MihomoManager::nodes(AppSettings settings)
{
    const QByteArray body = co_await controller(
        QStringLiteral("proxies/") + path(selectableGroup()), QByteArrayLiteral("GET"), std::nullopt, settings);
    co_return parseNodes(body);
}

QMap<QString, qint64> MihomoManager::parseLatencies(const QByteArray &body)
{
    json::Json document;
    try {
        document = json::parse(body);
    } catch (const std::exception &) {
        throw AppError(QStringLiteral("测速接口没有返回有效结果。"));
    }
    if (!document.is_object())
        throw AppError(QStringLiteral("测速接口没有返回有效结果。"));
    QMap<QString, qint64> delays;
    for (auto it = document.begin(); it != document.end(); ++it) {
        const std::optional<qint64> delay = json::integerValue(*it);
        if (!delay)
            throw AppError(QStringLiteral("测速接口没有返回有效结果。"));
        delays.insert(json::qstr(it.key()), *delay);
    }
    return delays;
}

QCoro::Task<QMap<QString, qint64>> MihomoManager::testLatencies(AppSettings settings)
{
    QString testURL = QString::fromUtf8(QUrl::toPercentEncoding(m_connectivityCheckURL, "!$&'()*+,;=:@/?"));
    if (testURL.isEmpty())
        testURL = m_connectivityCheckURL;
    const QByteArray body = co_await controller(
        QStringLiteral("group/") + path(selectableGroup()) + QStringLiteral("/delay?timeout=8000&url=") + testURL,
        QByteArrayLiteral("GET"), std::nullopt, settings);
    co_return parseLatencies(body);
}

QCoro::Task<> MihomoManager::selectNode(QString name, AppSettings settings)
{
    const json::Json body { { "name", json::str(name) } };
    // Converted to the optional parameter before the co_await: this compiler destroys such a
    // converted temporary twice when it is made inside the co_await expression.
    const std::optional<QByteArray> payload = QByteArray::fromStdString(body.dump());
    co_await controller(
        QStringLiteral("proxies/") + path(selectableGroup()), QByteArrayLiteral("PUT"), payload, settings);
}

QCoro::Task<TrafficRateSample> MihomoManager::nextTrafficSample(AppSettings settings)
{
    if (!m_trafficStream) {
        const QUrl url(QStringLiteral("ws://127.0.0.1:%1/traffic").arg(settings.controllerPort), QUrl::StrictMode);
        if (!url.isValid())
            throw AppError(QStringLiteral("本地流量统计地址无效。"));
        m_trafficStream = new TrafficStream(url, m_controllerSecret.toUtf8(), resourceTimeoutMs, this);
        if (!m_trafficStream)
            throw AppError(QStringLiteral("无法启动本地流量统计。"));
    }
    QPointer<TrafficStream> stream = m_trafficStream;
    while (stream && !stream->hasMessage() && !stream->failure()) {
        // A named awaiter: temporaries with non-trivial members inside a co_await expression
        // are mishandled by this compiler.
        TrafficStream::ChangeAwaiter change = stream->waitForChange(resourceTimeoutMs);
        const bool woke = co_await change;
        if (!woke && stream && !stream->hasMessage() && !stream->failure()) {
            // Nothing within the time-out counts as a failed receive.
            if (stream == m_trafficStream)
                cancelTrafficStream();
            throw SystemError(QStringLiteral("Socket operation timed out"));
        }
    }
    if (!stream)
        throw SystemError(QStringLiteral("The traffic stream was closed."));
    if (!stream->hasMessage()) {
        const QString reason = *stream->failure();
        const bool oversized = stream->refusedOversizedMessage();
        if (stream == m_trafficStream)
            cancelTrafficStream();
        if (oversized)
            throw AppError(QStringLiteral("本地流量统计数据无效。"));
        throw SystemError(reason);
    }
    const QByteArray message = stream->takeMessage();
    std::optional<TrafficRateSample> sample;
    if (message.size() <= maximumTrafficMessage)
        sample = parseTrafficSample(message);
    if (!sample) {
        if (stream == m_trafficStream)
            cancelTrafficStream();
        throw AppError(QStringLiteral("本地流量统计数据无效。"));
    }
    co_return *sample;
}

QCoro::Task<bool> MihomoManager::verifyProxy(qint64 port)
{
    QStringList arguments { QStringLiteral("--silent"), QStringLiteral("--show-error"), QStringLiteral("--proxy"),
        QStringLiteral("http://127.0.0.1:%1").arg(port), QStringLiteral("--connect-timeout"), QStringLiteral("8"),
        QStringLiteral("--max-time"), QStringLiteral("15"), QStringLiteral("--output"), QStringLiteral("/dev/null"),
        QStringLiteral("--write-out"), QStringLiteral("%{http_code}"), m_connectivityCheckURL };
    ChildProcessOptions options;
    options.timeout = curlGrace;
    options.outputCap = 64;
    ChildProcessResult curl;
    try {
        curl = co_await runChildProcess(m_curlPath, arguments, options);
    } catch (const std::exception &) {
        co_return false; // no curl to run is a line we cannot prove
    }
    const QByteArray output = curl.standardOutput;
    co_return curl.succeeded() && (output == "200" || output == "204");
}

} // namespace veyra
