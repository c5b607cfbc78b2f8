#include "FuzzModels.h"
#include "FuzzTarget.h"

#include "APIClient.h"
#include "Errors.h"
#include "Models.h"

#include <QUrl>

#include <variant>

using namespace veyra;
using Json = nlohmann::json;
using veyra::fuzz::qtext;

namespace {

// The records' decoding rules as field tables: a required field must be present, not null
// and of its type; an optional one may also be absent or null.

enum class Kind { text, flag, integer };

struct Field {
    const char *key;
    Kind kind;
    bool required;
};

const Json *member(const Json &object, const char *key)
{
    auto found = object.find(key);
    return found == object.end() || found->is_null() ? nullptr : &*found;
}

bool fits(const Json &value, Kind kind)
{
    switch (kind) {
    case Kind::text:
        return value.is_string();
    case Kind::flag:
        return value.is_boolean();
    case Kind::integer:
        return fuzz::exactInteger(value).has_value();
    }
    return false;
}

bool fieldsFit(const Json &object, std::initializer_list<Field> fields)
{
    if (!object.is_object())
        return false;
    for (const Field &field : fields) {
        const Json *value = member(object, field.key);
        if (value ? !fits(*value, field.kind) : field.required)
            return false;
    }
    return true;
}

std::optional<QString> text(const Json &object, const char *key)
{
    const Json *value = member(object, key);
    return value ? std::optional(qtext(value->get<std::string>())) : std::nullopt;
}

std::optional<qint64> integer(const Json &object, const char *key)
{
    const Json *value = member(object, key);
    return value ? fuzz::exactInteger(*value) : std::nullopt;
}

std::optional<bool> flag(const Json &object, const char *key)
{
    const Json *value = member(object, key);
    return value ? std::optional(value->get<bool>()) : std::nullopt;
}

// One key of the traffic counter: an exact integer, or a text holding a base-10 integer
// once white space is trimmed; anything else counts as absent.
std::optional<qint64> tolerant(const Json &object, const char *key)
{
    auto found = object.find(key);
    if (found == object.end())
        return std::nullopt;
    if (found->is_number())
        return fuzz::exactInteger(*found);
    if (found->is_string())
        return fuzz::decimal(fuzz::trimmedWhiteSpace(qtext(found->get<std::string>())));
    return std::nullopt;
}

std::optional<qint64> trafficModel(const Json &object)
{
    for (const char *key :
        { "trafficUsedBytes", "traffic_used_bytes", "usedTrafficBytes", "trafficBytesUsed", "usedBytes" })
        if (auto value = tolerant(object, key))
            return value;
    std::optional<qint64> upload = tolerant(object, "uploadBytes");
    if (!upload)
        upload = tolerant(object, "upload");
    std::optional<qint64> download = tolerant(object, "downloadBytes");
    if (!download)
        download = tolerant(object, "download");
    if (!upload && !download)
        return std::nullopt;
    const __int128 sum = __int128(std::max<qint64>(upload.value_or(0), 0)) + std::max<qint64>(download.value_or(0), 0);
    return static_cast<qint64>(std::min<__int128>(sum, INT64_MAX));
}

std::optional<Membership> membershipModel(const Json &value)
{
    if (!fieldsFit(value,
            { { "active", Kind::flag, false }, { "planId", Kind::text, false }, { "expiresAt", Kind::text, false },
                { "lifetime", Kind::flag, false }, { "deviceLimit", Kind::integer, false } }))
        return std::nullopt;
    return Membership { flag(value, "active").value_or(false), text(value, "planId"), text(value, "expiresAt"),
        flag(value, "lifetime"), integer(value, "deviceLimit"), trafficModel(value) };
}

std::optional<AccountUser> accountModel(const Json &value)
{
    if (!fieldsFit(value,
            { { "account", Kind::text, true }, { "subscriptionUrlToken", Kind::text, false },
                { "subscriptionUrl", Kind::text, false } }))
        return std::nullopt;
    std::optional<Membership> membership;
    if (const Json *inner = member(value, "membership")) {
        membership = membershipModel(*inner);
        if (!membership)
            return std::nullopt;
    }
    return AccountUser { *text(value, "account"), membership, text(value, "subscriptionUrlToken"),
        text(value, "subscriptionUrl") };
}

std::optional<Plan> planModel(const Json &value)
{
    if (!fieldsFit(value,
            { { "id", Kind::text, true }, { "name", Kind::text, true }, { "durationDays", Kind::integer, false },
                { "lifetime", Kind::flag, false }, { "priceFen", Kind::integer, true },
                { "trafficBytes", Kind::integer, false }, { "deviceLimit", Kind::integer, false },
                { "enabled", Kind::flag, false }, { "sortOrder", Kind::integer, false } }))
        return std::nullopt;
    std::optional<QStringList> features;
    if (const Json *list = member(value, "features")) {
        if (!list->is_array())
            return std::nullopt;
        features.emplace();
        for (const Json &item : *list) {
            if (!item.is_string())
                return std::nullopt;
            features->append(qtext(item.get<std::string>()));
        }
    }
    return Plan { *text(value, "id"), *text(value, "name"), integer(value, "durationDays"), flag(value, "lifetime"),
        *integer(value, "priceFen"), integer(value, "trafficBytes"), integer(value, "deviceLimit"),
        flag(value, "enabled"), integer(value, "sortOrder"), features };
}

std::optional<QList<Plan>> planListModel(const Json &value)
{
    if (!value.is_array())
        return std::nullopt;
    QList<Plan> plans;
    for (const Json &item : value) {
        auto plan = planModel(item);
        if (!plan)
            return std::nullopt;
        plans << *plan;
    }
    return plans;
}

std::optional<PaymentOrder> orderModel(const Json &value)
{
    if (!fieldsFit(value,
            { { "orderNo", Kind::text, true }, { "planName", Kind::text, false }, { "method", Kind::text, true },
                { "amountFen", Kind::integer, false }, { "status", Kind::text, true },
                { "paymentUrl", Kind::text, false }, { "codeUrl", Kind::text, false } }))
        return std::nullopt;
    return PaymentOrder { *text(value, "orderNo"), text(value, "planName"), *text(value, "method"),
        integer(value, "amountFen"), *text(value, "status"), text(value, "paymentUrl"), text(value, "codeUrl") };
}

std::optional<AuthResult> authModel(const Json &value)
{
    if (!fieldsFit(value, { { "token", Kind::text, true } }))
        return std::nullopt;
    std::optional<AccountUser> user;
    if (const Json *inner = member(value, "user")) {
        user = accountModel(*inner);
        if (!user)
            return std::nullopt;
    }
    return AuthResult { *text(value, "token"), user };
}

QString serverMessageModel(const Json &object)
{
    QStringList parts;
    for (const char *key : { "code", "error", "message", "detail" }) {
        auto found = object.find(key);
        if (found == object.end() || !found->is_string())
            continue;
        const QString part = fuzz::trimmedWhiteSpace(qtext(found->get<std::string>()));
        if (!part.isEmpty() && !parts.contains(part))
            parts << part;
    }
    return parts.join(u' ');
}

// A body that is not JSON: the parser's own error, passed on unchanged.
struct ParseFailure { };

// The envelope rules: the whole body as the model; else an object, refused when "ok" is
// false, searched under each payload key in order.
template <typename T, typename Model>
std::variant<ParseFailure, QString, T> envelopeModel(
    const Json &parsed, bool isJson, const QStringList &keys, Model model)
{
    if (isJson)
        if (std::optional<T> whole = model(parsed))
            return *whole;
    if (!isJson)
        return ParseFailure {};
    if (!parsed.is_object())
        return QStringLiteral("服务器数据格式错误。");
    auto ok = parsed.find("ok");
    if (ok != parsed.end() && ok->is_boolean() && !ok->get<bool>()) {
        const QString message = serverMessageModel(parsed);
        return message.isEmpty() ? QStringLiteral("请求失败。") : message;
    }
    for (const QString &key : keys) {
        auto found = parsed.find(key.toStdString());
        if (found == parsed.end() || !(found->is_object() || found->is_array()))
            continue;
        if (std::optional<T> value = model(*found))
            return *value;
    }
    return QStringLiteral("服务器缺少必要的响应字段。");
}

template <typename T, typename Model>
void compareEnvelope(const QByteArray &data, const Json &parsed, bool isJson, const QStringList &keys,
    const APIClient::Decoder<T> &decode, Model model, const char *what)
{
    const auto expected = envelopeModel<T>(parsed, isJson, keys, model);
    std::variant<ParseFailure, QString, T> actual;
    try {
        actual = APIClient::decodeEnvelope<T>(data, keys, decode);
    } catch (const AppError &error) {
        actual = error.description();
    } catch (const SystemError &) {
        actual = ParseFailure {};
    }
    FUZZ_EXPECT(actual.index() == expected.index(), std::string(what) + ": outcome of another kind");
    if (const auto *message = std::get_if<QString>(&actual))
        FUZZ_EXPECT(*message == std::get<QString>(expected),
            std::string(what) + ": " + message->toStdString() + " instead of "
                + std::get<QString>(expected).toStdString());
    if (const auto *value = std::get_if<T>(&actual)) {
        FUZZ_EXPECT(*value == std::get<T>(expected), std::string(what) + ": decoded to another value");
    }
}

// An order number always travels as exactly one path segment under "orders/" and means the
// same after it, or the request is refused before it is sent.
void checkOrderNumber(const QString &number)
{
    static const APIClient client(std::nullopt, [] {
        APIClientOptions options;
        options.baseURL = QUrl(QStringLiteral("https://api.veyra.example/api/v1/"));
        options.deviceID = QStringLiteral("fuzz");
        return options;
    }());
    const QString encoded = APIClient::encodeOrderNumber(number);
    const QString decoded = QUrl::fromPercentEncoding(encoded.toUtf8());
    FUZZ_EXPECT(decoded == number, "order number came back as " + decoded.toStdString());
    QUrl url;
    try {
        url = client.makeRequest(QStringLiteral("orders/") + encoded, std::nullopt, false).url();
    } catch (const AppError &error) {
        FUZZ_EXPECT(number == u"." || number == u"..",
            "order number " + fuzz::printable(number.toStdString()) + " refused: " + error.what());
        return;
    }
    const QString path = url.path(QUrl::FullyEncoded);
    FUZZ_EXPECT(path.startsWith(u"/api/v1/orders/") && !path.mid(15).contains(u'/') && url.query().isEmpty()
            && !url.hasFragment() && QUrl::fromPercentEncoding(path.mid(15).toUtf8()) == number,
        "order number " + number.toStdString() + " requested " + url.toString().toStdString());
}

} // namespace

// Input: a reply body of the service; every decoder reads it.
VEYRA_FUZZ_TARGET(serviceModels)
{
    const QByteArray data(input.data(), static_cast<qsizetype>(input.size()));
    const Json parsed = Json::parse(input.begin(), input.end(), nullptr, false);
    const bool isJson = !parsed.is_discarded();

    compareEnvelope<AuthResult>(
        data, parsed, isJson, { QStringLiteral("data") }, &AuthResult::fromJson, authModel, "sign-in");
    // A body that is not JSON fails in the parser before any decoder sees it, the same way for
    // every model; the one above shows that, and most mutated inputs are such bodies.
    if (isJson) {
        compareEnvelope<AccountUser>(data, parsed, isJson, { QStringLiteral("user"), QStringLiteral("data") },
            &AccountUser::fromJson, accountModel, "account");
        compareEnvelope<QList<Plan>>(data, parsed, isJson, { QStringLiteral("plans"), QStringLiteral("data") },
            &Plan::listFromJson, planListModel, "plans");
        compareEnvelope<PaymentOrder>(data, parsed, isJson, { QStringLiteral("order"), QStringLiteral("data") },
            &PaymentOrder::fromJson, orderModel, "order");

        FUZZ_EXPECT(APIClient::serverMessage(parsed) == (parsed.is_object() ? serverMessageModel(parsed) : QString()),
            "server message");
        if (parsed.is_object()) {
            FUZZ_EXPECT(Membership::readTrafficUsed(parsed) == trafficModel(parsed), "traffic used");
            if (auto order = orderModel(parsed)) {
                static const QStringList finals { "paid", "closed", "cancelled", "canceled", "expired", "failed",
                    "payment_error" };
                const QString status = order->status.toLower();
                FUZZ_EXPECT(order->isPaid() == (status == u"paid"), "paid");
                FUZZ_EXPECT(order->isFinal() == finals.contains(status), "final");
                checkOrderNumber(order->orderNo);
            }
        }
    }
    // Order numbers are short; encoding a long input character by character only slows the run.
    if (input.size() <= 64)
        checkOrderNumber(qtext(std::string(input)));
}
