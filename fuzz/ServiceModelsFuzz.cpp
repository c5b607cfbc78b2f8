#include "FuzzModels.h"

#include "APIClient.h"
#include "Errors.h"
#include "Models.h"

#include <QUrl>

using namespace veyra;
using namespace veyra::fuzz;

namespace {

// The traffic counter under the first key that holds one: an exact integer, or a text holding
// a base-10 integer once white space is trimmed; else the sum of its two halves.
std::optional<qint64> trafficModel(const Json &object)
{
    const auto tolerant = [&](const char *key) { return tolerantInteger(member(&object, key)); };
    for (const char *key :
        { "trafficUsedBytes", "traffic_used_bytes", "usedTrafficBytes", "trafficBytesUsed", "usedBytes" })
        if (auto value = tolerant(key))
            return value;
    const auto upload = tolerant("uploadBytes"), download = tolerant("downloadBytes");
    return usageSum(upload ? upload : tolerant("upload"), download ? download : tolerant("download"));
}

std::optional<Membership> membershipModel(const Json &value)
{
    Fields f { value };
    return f.record(Membership { f.get("active", flagOf).value_or(false), f.get("planId", textOf),
        f.get("expiresAt", textOf), f.get("lifetime", flagOf), f.get("deviceLimit", exactInteger),
        f.fits ? trafficModel(value) : std::nullopt });
}

std::optional<AccountUser> accountModel(const Json &value)
{
    Fields f { value };
    return f.record(AccountUser { f.need("account", textOf), f.get("membership", membershipModel),
        f.get("subscriptionUrlToken", textOf), f.get("subscriptionUrl", textOf) });
}

std::optional<Plan> planModel(const Json &value)
{
    Fields f { value };
    return f.record(Plan { f.need("id", textOf), f.need("name", textOf), f.get("durationDays", exactInteger),
        f.get("lifetime", flagOf), f.need("priceFen", exactInteger), f.get("trafficBytes", exactInteger),
        f.get("deviceLimit", exactInteger), f.get("enabled", flagOf), f.get("sortOrder", exactInteger),
        f.get("features", listOf<QStringList>(textOf)) });
}

std::optional<PaymentOrder> orderModel(const Json &value)
{
    Fields f { value };
    return f.record(PaymentOrder { f.need("orderNo", textOf), f.get("planName", textOf), f.need("method", textOf),
        f.get("amountFen", exactInteger), f.need("status", textOf), f.get("paymentUrl", textOf),
        f.get("codeUrl", textOf) });
}

std::optional<AuthResult> authModel(const Json &value)
{
    Fields f { value };
    return f.record(AuthResult { f.need("token", textOf), f.get("user", accountModel) });
}

QString serverMessageModel(const Json &object)
{
    QStringList parts;
    for (const char *key : { "code", "error", "message", "detail" })
        if (const Json *found = member(&object, key); found && found->is_string())
            parts << trimmedWhiteSpace(qtext(found->get<std::string>()));
    parts.removeAll(QString());
    parts.removeDuplicates();
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
    if (const Json *ok = member(&*parsed, "ok"); ok && ok->is_boolean() && !ok->get<bool>()) {
        const QString message = serverMessageModel(*parsed);
        return message.isEmpty() ? QStringLiteral("请求失败。") : message;
    }
    for (const QString &key : keys)
        if (const Json *found = member(&*parsed, key.toStdString()); found && (found->is_object() || found->is_array()))
            if (std::optional<T> value = model(*found))
                return *value;
    return QStringLiteral("服务器缺少必要的响应字段。");
}

template <typename T, typename Model>
void checkEnvelope(std::string_view input, const std::optional<Json> &parsed, const QStringList &keys,
    const APIClient::Decoder<T> &decode, Model model)
{
    const Outcome<T> expected = envelopeModel<T>(parsed, keys, model);
    const Outcome<T> actual = outcomeOf<T, AppError, SystemError>(
        [&] { return APIClient::decodeEnvelope<T>(bytesOf(input), keys, decode); });
    FUZZ_EXPECT(
        actual == expected, keys.join(u',').toStdString() + ": " + shown(actual) + " instead of " + shown(expected));
}

// An order number always travels as exactly one path segment under "orders/" and means the
// same after it, or the request is refused before it is sent.
void checkOrderNumber(const QString &number)
{
    static const APIClient client(std::nullopt, [] {
        APIClientOptions options;
        options.baseURL = QUrl("https://api.veyra.example/api/v1/");
        return options;
    }());
    const QString encoded = APIClient::encodeOrderNumber(number);
    FUZZ_EXPECT(QUrl::fromPercentEncoding(encoded.toUtf8()) == number, "order number came back otherwise");
    const auto url
        = unlessThrows<AppError>([&] { return client.makeRequest("orders/" + encoded, std::nullopt, false).url(); });
    const QString path = url ? url->path(QUrl::FullyEncoded) : QString();
    FUZZ_EXPECT(url ? path.startsWith(u"/api/v1/orders/") && !path.mid(15).contains(u'/') && url->query().isEmpty()
                && !url->hasFragment() && QUrl::fromPercentEncoding(path.mid(15).toUtf8()) == number
                    : number == u"." || number == u"..",
        "order number " + printable(number.toStdString()) + " went to " + path.toStdString());
}

} // namespace

// Input: a reply body of the service; every decoder reads it.
VEYRA_FUZZ_TARGET(service_models)
{
    const std::optional<Json> parsed = jsonOf(input);
    checkEnvelope<AuthResult>(input, parsed, { "data" }, &AuthResult::fromJson, authModel);
    // A body that is not JSON fails in the parser before any decoder sees it, the same way for
    // every model; the one above shows that, and most mutated inputs are such bodies.
    if (parsed) {
        checkEnvelope<AccountUser>(input, parsed, { "user", "data" }, &AccountUser::fromJson, accountModel);
        checkEnvelope<QList<Plan>>(
            input, parsed, { "plans", "data" }, &Plan::listFromJson, listOf<QList<Plan>>(planModel));
        checkEnvelope<PaymentOrder>(input, parsed, { "order", "data" }, &PaymentOrder::fromJson, orderModel);
        const QString message = parsed->is_object() ? serverMessageModel(*parsed) : QString();
        FUZZ_EXPECT(APIClient::serverMessage(*parsed) == message, "server message");
    }
    if (parsed && parsed->is_object()) {
        FUZZ_EXPECT(Membership::readTrafficUsed(*parsed) == trafficModel(*parsed), "traffic used");
        if (auto order = orderModel(*parsed)) {
            const QString status = order->status.toLower();
            FUZZ_EXPECT(order->isPaid() == (status == u"paid")
                    && order->isFinal()
                        == oneOf(status,
                            { "paid", "closed", "cancelled", "canceled", "expired", "failed", "payment_error" }),
                "outcome of " + status.toStdString());
            checkOrderNumber(order->orderNo);
        }
    }
    // Order numbers are short; encoding a long input character by character only slows the run.
    if (input.size() <= 64)
        checkOrderNumber(qtext(input));
}
