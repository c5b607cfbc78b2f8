#pragma once

#include "DeviceIdentifier.h"
#include "Json.h"
#include "Models.h"
#include "SecurityPolicy.h"

#include <QCoroTask>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QObject>
#include <QSslCertificate>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

namespace veyra {

struct APIClientOptions {
    static constexpr int defaultRequestTimeoutMs = 25'000;

    QUrl baseURL = SecurityPolicy::apiBaseURL();
    // Trusted in addition to the system's CAs; only tests fill this in.
    QList<QSslCertificate> extraCACertificates;
    QString deviceID = DeviceIdentifier::current();
    // The longest a request may wait without any data arriving. The product keeps the default;
    // tests shorten it so that a stalled service fails in a moment instead of 25 seconds.
    int requestTimeoutMs = defaultRequestTimeoutMs;
};

// The only component that talks to the service's REST interface. Every reply is checked
// (size while it arrives, origin, status) before anything parses it; redirects are never
// followed and no cookie or cache survives a request.
class APIClient : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 jsonLimit = 4'194'304;
    static constexpr qint64 imageLimit = 2'097'152;
    static constexpr int requestTimeoutMs = APIClientOptions::defaultRequestTimeoutMs;
    static constexpr int resourceTimeoutMs = 30'000;

    using Options = APIClientOptions;

    template <typename T> using Decoder = std::function<T(const json::Json &)>;

    explicit APIClient(std::optional<QString> token = std::nullopt, Options options = {}, QObject *parent = nullptr);

    // Requests built afterwards carry the new token; requests already sent keep theirs.
    void setToken(std::optional<QString> token);
    const std::optional<QString> &token() const { return m_token; }
    const QString &deviceID() const { return m_options.deviceID; }

    QCoro::Task<AuthResult> login(QString account, QString password, bool registering);
    QCoro::Task<AccountUser> currentUser();
    QCoro::Task<QList<Plan>> plans();
    QCoro::Task<PaymentOrder> createOrder(QString planID, QString method, QString idempotencyKey);
    QCoro::Task<PaymentOrder> order(QString number);
    QCoro::Task<QByteArray> orderQRCode(QString number);
    QCoro::Task<> logout();

    // The envelope reader: the model from the whole body, else from the first payload key that
    // decodes.
    template <typename T>
    QCoro::Task<T> send(QString path, QByteArray method, std::optional<json::Json> body, QStringList payloadKeys,
        std::optional<QString> idempotencyKey, Decoder<T> decode)
    {
        const QByteArray data = co_await exchange(path, method, body, idempotencyKey, jsonLimit);
        co_return decodeEnvelope<T>(data, payloadKeys, decode);
    }
    // Sends and validates; the body is not looked at.
    QCoro::Task<> sendDiscarding(QString path, QByteArray method, std::optional<json::Json> body = std::nullopt);

    // Pure pieces of the protocol, public so they can be checked on their own.
    static QString encodeOrderNumber(const QString &number);
    static QString serverMessage(const json::Json &object);
    template <typename T>
    static T decodeEnvelope(const QByteArray &data, const QStringList &payloadKeys, const Decoder<T> &decode)
    {
        // Parsed once: a body that is not JSON leaves here with the parser's own error.
        const json::Json parsed = json::parse(data);
        if (std::optional<T> value = tryDecode(parsed, decode))
            return std::move(*value);
        const json::Json &object = parseEnvelopeObject(data, parsed);
        for (const QString &key : payloadKeys) {
            auto found = object.find(key.toStdString());
            // A scalar under a payload key cannot hold a model; it counts as one that did not decode.
            if (found == object.end() || !(found->is_object() || found->is_array()))
                continue;
            if (std::optional<T> value = tryDecode(*found, decode))
                return std::move(*value);
        }
        throwMissingPayload();
    }

    QNetworkRequest makeRequest(const QString &path, const std::optional<QString> &idempotencyKey, bool hasBody) const;

private:
    QCoro::Task<QByteArray> exchange(QString path, QByteArray method, std::optional<json::Json> body,
        std::optional<QString> idempotencyKey, qint64 limit);

    template <typename T> static std::optional<T> tryDecode(const json::Json &value, const Decoder<T> &decode)
    {
        try {
            return decode(value);
        } catch (const std::exception &) {
            return std::nullopt;
        }
    }
    // Throws the parse error, "not an object" or the "ok": false message; else the object.
    static const json::Json &parseEnvelopeObject(const QByteArray &data, const json::Json &parsed);
    [[noreturn]] static void throwMissingPayload();

    Options m_options;
    std::optional<QString> m_token;
    QNetworkAccessManager m_network;
};

} // namespace veyra
