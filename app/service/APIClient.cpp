#include "APIClient.h"

#include "AppInfo.h"
#include "Errors.h"

#include <QCoroNetworkReply>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QPointer>
#include <QSslConfiguration>
#include <QTimer>

#include <memory>

namespace veyra {

namespace {

// Neither sends nor keeps a cookie: the session must not depend on state the service slipped in.
class NoCookieJar : public QNetworkCookieJar {
public:
    using QNetworkCookieJar::QNetworkCookieJar;
    QList<QNetworkCookie> cookiesForUrl(const QUrl &) const override { return {}; }
    bool setCookiesFromUrl(const QList<QNetworkCookie> &, const QUrl &) override { return false; }
};

// Collects the body as it arrives and stops the transfer as soon as it passes the cap, so an
// oversized reply is never buffered whole.
class BodyCollector : public QObject {
public:
    BodyCollector(QNetworkReply *reply, qint64 limit)
        : QObject(reply)
        , m_reply(reply)
        , m_limit(limit)
    {
        connect(reply, &QNetworkReply::metaDataChanged, this, &BodyCollector::checkDeclaredLength);
        connect(reply, &QNetworkReply::readyRead, this, &BodyCollector::drain);
    }

    void drain()
    {
        if (oversize)
            return;
        m_body.append(m_reply->read(m_limit + 1 - m_body.size()));
        if (m_body.size() > m_limit)
            stop();
    }

    QByteArray takeBody() { return std::move(m_body); }
    bool oversize = false;
    bool timedOut = false;

private:
    void checkDeclaredLength()
    {
        const QVariant declared = m_reply->header(QNetworkRequest::ContentLengthHeader);
        if (declared.isValid() && declared.toLongLong() > m_limit)
            stop();
    }
    void stop()
    {
        oversize = true;
        m_body.clear();
        m_reply->abort();
    }

    QNetworkReply *m_reply;
    qint64 m_limit;
    QByteArray m_body;
};

struct DeleteLater {
    void operator()(QObject *object) const { object->deleteLater(); }
};

bool isTransportFailure(QNetworkReply::NetworkError error, bool hasStatus)
{
    // Qt numbers connection failures below 100 and proxy failures below 200; those end the
    // exchange even after a status line arrived (a connection cut mid-body). Its other codes
    // stand for HTTP statuses (400 becomes a "protocol" code) and only count when no status
    // came back at all.
    const int code = int(error);
    return (code > 0 && code < 200) || (!hasStatus && error != QNetworkReply::NoError);
}

QString httpStatusText(int status)
{
    return QString::fromUtf8("服务器返回 HTTP %1。").arg(status);
}

} // namespace

APIClient::APIClient(std::optional<QString> token, Options options, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
    , m_token(std::move(token))
{
    m_network.setCookieJar(new NoCookieJar(&m_network));
    m_network.setCache(nullptr);
    m_network.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    m_network.setTransferTimeout(m_options.requestTimeoutMs);
}

void APIClient::setToken(std::optional<QString> token)
{
    m_token = std::move(token);
}

QNetworkRequest APIClient::makeRequest(
    const QString &path, const std::optional<QString> &idempotencyKey, bool hasBody) const
{
    const QUrl relative(path, QUrl::TolerantMode);
    const QUrl url = relative.isValid() ? m_options.baseURL.resolved(relative) : QUrl();
    // A "." or ".." segment (an order number of dots, escaped or not: the URL decodes %2E)
    // would be resolved away and send the request to another resource of the service. The
    // encoded path keeps an escaped "/" inside its segment.
    bool dotSegment = false;
    for (const QString &segment : relative.path(QUrl::FullyEncoded).split(QLatin1Char('/')))
        dotSegment = dotSegment || segment == QLatin1String(".") || segment == QLatin1String("..");
    if (!url.isValid() || url.isEmpty() || url.isRelative() || dotSegment)
        throw AppError(QString::fromUtf8("后台请求地址无效。"));

    QNetworkRequest request(url);
    request.setTransferTimeout(m_options.requestTimeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    if (!m_options.extraCACertificates.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(m_options.extraCACertificates);
        request.setSslConfiguration(tls);
    }

    request.setRawHeader("Accept", "application/json");
    request.setRawHeader("User-Agent", QByteArray("VeyraMac/") + AppInfo::version);
    request.setRawHeader("X-Device-ID", m_options.deviceID.toUtf8());
    if (m_token && !m_token->isEmpty())
        request.setRawHeader("Authorization", "Bearer " + m_token->toUtf8());
    if (idempotencyKey)
        request.setRawHeader("Idempotency-Key", idempotencyKey->toUtf8());
    if (hasBody)
        request.setRawHeader("Content-Type", "application/json");
    return request;
}

QCoro::Task<QByteArray> APIClient::exchange(QString path, QByteArray method, std::optional<json::Json> body,
    std::optional<QString> idempotencyKey, qint64 limit)
{
    QNetworkRequest request = makeRequest(path, idempotencyKey, body.has_value());
    QByteArray payload;
    if (body) {
        try {
            payload = QByteArray::fromStdString(body->dump());
        } catch (const json::Json::exception &error) {
            throw SystemError(QString::fromUtf8(error.what()));
        }
    }

    QNetworkReply *sent = nullptr;
    if (body)
        sent = m_network.sendCustomRequest(request, method, payload);
    else if (method == "GET")
        sent = m_network.get(request);
    else {
        // A bodiless POST still states its empty length: strict front ends answer 411 without
        // it, and a sign-out would then never revoke the token.
        request.setHeader(QNetworkRequest::ContentLengthHeader, 0);
        sent = m_network.sendCustomRequest(request, method);
    }
    std::unique_ptr<QNetworkReply, DeleteLater> reply(sent);
    auto *collector = new BodyCollector(reply.get(), limit);
    // The whole exchange, not just each silence, is bounded too.
    QTimer::singleShot(resourceTimeoutMs, collector, [collector, raw = reply.get()] {
        collector->timedOut = true;
        raw->abort();
    });
    if (!reply->isFinished())
        co_await qCoro(reply.get()).waitForFinished();
    collector->drain();

    // The size is judged before anything else, so an oversized reply is refused whatever it says.
    if (collector->oversize)
        throw AppError(QString::fromUtf8("服务器响应超过安全大小限制。"));
    // Qt reports a reply that stayed silent past its transfer time-out as "canceled". Apart from
    // the size cap above nothing here cancels a reply, so that is a time-out too, and the user
    // is told so rather than that something was cancelled.
    if (collector->timedOut || reply->error() == QNetworkReply::OperationCanceledError)
        throw SystemError(QString::fromUtf8("The request timed out."));
    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (isTransportFailure(reply->error(), statusAttribute.isValid()))
        throw SystemError(reply->errorString());
    if (!statusAttribute.isValid())
        throw AppError(QString::fromUtf8("服务器响应无效。"));
    // Only HTTPS from the service's own host is believed.
    const QUrl finalURL = reply->url();
    if (!finalURL.isValid() || finalURL.scheme() != QLatin1String("https")
        || finalURL.host().toLower() != m_options.baseURL.host().toLower())
        throw AppError(QString::fromUtf8("后台请求被重定向到未受信任的地址。"));
    QByteArray data = collector->takeBody();
    const int status = statusAttribute.toInt();
    if (status >= 200 && status <= 299)
        co_return data;
    QString message;
    const json::Json parsed = json::Json::parse(data.begin(), data.end(), nullptr, false);
    if (parsed.is_object())
        message = serverMessage(parsed);
    if (message.isEmpty())
        message = httpStatusText(status);
    if (status == 401 || status == 403)
        throw APIClientError::authenticationExpired(message);
    throw AppError(message);
}

QCoro::Task<> APIClient::sendDiscarding(QString path, QByteArray method, std::optional<json::Json> body)
{
    co_await exchange(path, method, std::move(body), std::nullopt, jsonLimit);
}

// The named operations are plain functions that hand their arguments to the coroutines above,
// which keeps string literals and JSON initialisers out of coroutine bodies (GCC 12 mishandles
// some of them there).
QCoro::Task<AuthResult> APIClient::login(QString account, QString password, bool registering)
{
    json::Json body = { { "account", json::str(account) }, { "password", json::str(password) } };
    return send<AuthResult>(registering ? QStringLiteral("auth/register") : QStringLiteral("auth/login"), "POST",
        std::move(body), { QStringLiteral("data") }, std::nullopt, &AuthResult::fromJson);
}

QCoro::Task<AccountUser> APIClient::currentUser()
{
    return send<AccountUser>(QStringLiteral("me"), "GET", std::nullopt,
        { QStringLiteral("user"), QStringLiteral("data") }, std::nullopt, &AccountUser::fromJson);
}

QCoro::Task<QList<Plan>> APIClient::plans()
{
    return send<QList<Plan>>(QStringLiteral("plans"), "GET", std::nullopt,
        { QStringLiteral("plans"), QStringLiteral("data") }, std::nullopt, &Plan::listFromJson);
}

QCoro::Task<PaymentOrder> APIClient::createOrder(QString planID, QString method, QString idempotencyKey)
{
    json::Json body = { { "planId", json::str(planID) }, { "method", json::str(method) } };
    return send<PaymentOrder>(QStringLiteral("orders"), "POST", std::move(body),
        { QStringLiteral("order"), QStringLiteral("data") }, std::move(idempotencyKey), &PaymentOrder::fromJson);
}

QCoro::Task<PaymentOrder> APIClient::order(QString number)
{
    return send<PaymentOrder>(QStringLiteral("orders/") + encodeOrderNumber(number), "GET", std::nullopt,
        { QStringLiteral("order"), QStringLiteral("data") }, std::nullopt, &PaymentOrder::fromJson);
}

QCoro::Task<QByteArray> APIClient::orderQRCode(QString number)
{
    return exchange(QStringLiteral("orders/") + encodeOrderNumber(number) + QStringLiteral("/qrcode"), "GET",
        std::nullopt, std::nullopt, imageLimit);
}

QCoro::Task<> APIClient::logout()
{
    return sendDiscarding(QStringLiteral("auth/logout"), "POST");
}

QString APIClient::encodeOrderNumber(const QString &number)
{
    // Letters and digits of any script and "-._~" stay; everything else, "/" and "%" included,
    // is escaped so the number is always exactly one path segment.
    QString encoded;
    for (const char32_t codePoint : number.toUcs4()) {
        const bool keep = QChar::isLetterOrNumber(codePoint) || codePoint == U'-' || codePoint == U'.'
            || codePoint == U'_' || codePoint == U'~';
        const QString character = QString::fromUcs4(&codePoint, 1);
        if (keep) {
            encoded += character;
            continue;
        }
        for (const char byte : character.toUtf8())
            encoded += QString::fromUtf8("%%1").arg(uint(uchar(byte)), 2, 16, QLatin1Char('0')).toUpper();
    }
    return encoded;
}

QString APIClient::serverMessage(const json::Json &object)
{
    if (!object.is_object())
        return {};
    QStringList parts;
    static const char *const keys[] = { "code", "error", "message", "detail" };
    for (const char *key : keys) {
        auto found = object.find(key);
        if (found == object.end() || !found->is_string())
            continue;
        const QString text = json::qstr(found->get<std::string>()).trimmed();
        if (!text.isEmpty() && !parts.contains(text))
            parts.append(text);
    }
    return parts.join(QLatin1Char(' '));
}

const json::Json &APIClient::parseEnvelopeObject(const QByteArray &data, const json::Json &parsed)
{
    if (parsed.is_discarded())
        json::parse(data); // throws the parser's own error
    if (!parsed.is_object())
        throw AppError(QString::fromUtf8("服务器数据格式错误。"));
    auto ok = parsed.find("ok");
    if (ok != parsed.end() && ok->is_boolean() && !ok->get<bool>()) {
        const QString message = serverMessage(parsed);
        throw AppError(message.isEmpty() ? QString::fromUtf8("请求失败。") : message);
    }
    return parsed;
}

void APIClient::throwMissingPayload()
{
    throw AppError(QString::fromUtf8("服务器缺少必要的响应字段。"));
}

} // namespace veyra
