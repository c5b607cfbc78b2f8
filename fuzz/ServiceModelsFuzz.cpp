#include "FuzzModels.h"
#include "FuzzTarget.h"

#include "APIClient.h"
#include "Errors.h"
#include "Models.h"

#include <QUrl>

using namespace veyra;
using namespace veyra::fuzz;
using Json = nlohmann::json;

namespace {

std::optional<QString> asText(const Json &value)
{
    return value.is_string() ? std::optional(qtext(value.get<std::string>())) : std::nullopt;
}

std::optional<bool> asFlag(const Json &value)
{
    return value.is_boolean() ? std::optional(value.get<bool>()) : std::nullopt;
}

std::optional<QStringList> asTexts(const Json &value)
{
    if (!value.is_array())
        return std::nullopt;
    QStringList texts;
    for (const Json &item : value)
        if (!item.is_string())
            return std::nullopt;
        else
            texts << qtext(item.get<std::string>());
    return texts;
}

// The records' decoding rules: a required field must be present, not null and of its type; an
// optional one may also be absent or null. `fits` turns false at the first rule broken.
struct Fields {
    const Json &object;
    bool fits = object.is_object();

    template <typename Read> auto get(const char *key, Read read, bool required = false) -> decltype(read(object))
    {
        const Json *value = nullptr;
        if (auto found = fits ? object.find(key) : object.end(); found != object.end() && !found->is_null())
            value = &*found;
        auto result = value ? read(*value) : std::nullopt;
        fits = fits && (result || (!value && !required));
        return result;
    }
    template <typename T> std::optional<T> record(T value) const { return fits ? std::optional(value) : std::nullopt; }
};

// One key of the traffic counter: an exact integer, or a text holding a base-10 integer
// once white space is trimmed; anything else counts as absent.
std::optional<qint64> tolerant(const Json &object, const char *key)
{
    auto found = object.find(key);
    if (found != object.end() && found->is_number())
        return exactInteger(*found);
    if (found != object.end() && found->is_string())
        return decimal(trimmedWhiteSpace(qtext(found->get<std::string>())));
    return std::nullopt;
}

std::optional<qint64> trafficModel(const Json &object)
{
    for (const char *key :
        { "trafficUsedBytes", "traffic_used_bytes", "usedTrafficBytes", "trafficBytesUsed", "usedBytes" })
        if (auto value = tolerant(object, key))
            return value;
    const auto upload = tolerant(object, "uploadBytes"), download = tolerant(object, "downloadBytes");
    return usageSum(upload ? upload : tolerant(object, "upload"), download ? download : tolerant(object, "download"));
}

std::optional<Membership> membershipModel(const Json &value)
{
    Fields f { value };
    return f.record(Membership { f.get("active", asFlag).value_or(false), f.get("planId", asText),
        f.get("expiresAt", asText), f.get("lifetime", asFlag), f.get("deviceLimit", exactInteger),
        f.fits ? trafficModel(value) : std::nullopt });
}

std::optional<AccountUser> accountModel(const Json &value)
{
    Fields f { value };
    return f.record(AccountUser { f.get("account", asText, true).value_or(QString()),
        f.get("membership", membershipModel), f.get("subscriptionUrlToken", asText), f.get("subscriptionUrl", asText) });
}

std::optional<Plan> planModel(const Json &value)
{
    Fields f { value };
    return f.record(Plan { f.get("id", asText, true).value_or(QString()), f.get("name", asText, true).value_or(QString()),
        f.get("durationDays", exactInteger), f.get("lifetime", asFlag), f.get("priceFen", exactInteger, true).value_or(0),
        f.get("trafficBytes", exactInteger), f.get("deviceLimit", exactInteger), f.get("enabled", asFlag),
        f.get("sortOrder", exactInteger), f.get("features", asTexts) });
}

std::optional<QList<Plan>> planListModel(const Json &value)
{
    if (!value.is_array())
        return std::nullopt;
    QList<Plan> plans;
    for (const Json &item : value)
        if (auto plan = planModel(item))
            plans << *plan;
        else
            return std::nullopt;
    return plans;
}

std::optional<PaymentOrder> orderModel(const Json &value)
{
    Fields f { value };
    return f.record(PaymentOrder { f.get("orderNo", asText, true).value_or(QString()), f.get("planName", asText),
        f.get("method", asText, true).value_or(QString()), f.get("amountFen", exactInteger),
        f.get("status", asText, true).value_or(QString()), f.get("paymentUrl", asText), f.get("codeUrl", asText) });
}

std::optional<AuthResult> authModel(const Json &value)
{
    Fields f { value };
    return f.record(AuthResult { f.get("token", asText, true).value_or(QString()), f.get("user", accountModel) });
}

QString serverMessageModel(const Json &object)
{
    QStringList parts;
    for (const char *key : { "code", "error", "message", "detail" }) {
        auto found = object.find(key);
        const QString part = found != object.end() && found->is_string()
            ? trimmedWhiteSpace(qtext(found->get<std::string>()))
            : QString();
        if (!part.isEmpty() && !parts.contains(part))
            parts << part;
    }
    return parts.join(u' ');
}

// The envelope rules: the whole body as the model; else an object, refused when "ok" is
// false, searched under each payload key in order.
template <typename T, typename Model>
Outcome<T> envelopeModel(const std::optional<Json> &parsed, const QStringList &keys, Model model)
{
    if (!parsed)
        return ParseFailure {};
    if (std::optional<T> whole = model(*parsed))
        return *whole;
    if (!parsed->is_object())
        return QStringLiteral("服务器数据格式错误。");
    auto ok = parsed->find("ok");
    if (ok != parsed->end() && ok->is_boolean() && !ok->get<bool>()) {
        const QString message = serverMessageModel(*parsed);
        return message.isEmpty() ? QStringLiteral("请求失败。") : message;
    }
    for (const QString &key : keys) {
        auto found = parsed->find(key.toStdString());
        if (found != parsed->end() && (found->is_object() || found->is_array()))
            if (std::optional<T> value = model(*found))
                return *value;
    }
    return QStringLiteral("服务器缺少必要的响应字段。");
}

template <typename T, typename Model>
void compareEnvelope(std::string_view input, const std::optional<Json> &parsed, const QStringList &keys,
    const APIClient::Decoder<T> &decode, Model model, const char *what)
{
    const QByteArray data(input.data(), static_cast<qsizetype>(input.size()));
    const Outcome<T> expected = envelopeModel<T>(parsed, keys, model);
    const Outcome<T> actual
        = outcomeOf<T, AppError, SystemError>([&] { return APIClient::decodeEnvelope<T>(data, keys, decode); });
    FUZZ_EXPECT(actual == expected, std::string(what) + ": " + shown(actual) + " instead of " + shown(expected));
}

// An order number always travels as exactly one path segment under "orders/" and means the
// same after it, or the request is refused before it is sent.
void checkOrderNumber(const QString &number)
{
    static const APIClient client(std::nullopt, [] {
        APIClientOptions options;
        options.baseURL = QUrl(QStringLiteral("https://api.veyra.example/api/v1/"));
        return options;
    }());
    const QString encoded = APIClient::encodeOrderNumber(number);
    FUZZ_EXPECT(QUrl::fromPercentEncoding(encoded.toUtf8()) == number, "order number came back otherwise");
    QUrl url;
    try {
        url = client.makeRequest(QStringLiteral("orders/") + encoded, std::nullopt, false).url();
    } catch (const AppError &) {
        FUZZ_EXPECT(number == u"." || number == u"..", "order number " + printable(number.toStdString()) + " refused");
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
    const std::optional<Json> parsed = jsonOf(input);
    compareEnvelope<AuthResult>(input, parsed, { QStringLiteral("data") }, &AuthResult::fromJson, authModel, "sign-in");
    // A body that is not JSON fails in the parser before any decoder sees it, the same way for
    // every model; the one above shows that, and most mutated inputs are such bodies.
    if (parsed) {
        compareEnvelope<AccountUser>(input, parsed, { QStringLiteral("user"), QStringLiteral("data") },
            &AccountUser::fromJson, accountModel, "account");
        compareEnvelope<QList<Plan>>(input, parsed, { QStringLiteral("plans"), QStringLiteral("data") },
            &Plan::listFromJson, planListModel, "plans");
        compareEnvelope<PaymentOrder>(input, parsed, { QStringLiteral("order"), QStringLiteral("data") },
            &PaymentOrder::fromJson, orderModel, "order");
        FUZZ_EXPECT(APIClient::serverMessage(*parsed) == (parsed->is_object() ? serverMessageModel(*parsed) : QString()),
            "server message");
    }
    if (parsed && parsed->is_object()) {
        FUZZ_EXPECT(Membership::readTrafficUsed(*parsed) == trafficModel(*parsed), "traffic used");
        if (auto order = orderModel(*parsed)) {
            static const QStringList finals { "paid", "closed", "cancelled", "canceled", "expired", "failed",
                "payment_error" };
            const QString status = order->status.toLower();
            FUZZ_EXPECT(order->isPaid() == (status == u"paid"), "paid");
            FUZZ_EXPECT(order->isFinal() == finals.contains(status), "final");
            checkOrderNumber(order->orderNo);
        }
    }
    // Order numbers are short; encoding a long input character by character only slows the run.
    if (input.size() <= 64)
        checkOrderNumber(qtext(input));
}
