#include "Models.h"

#include "Errors.h"

#include <QRegularExpression>
#include <limits>

namespace veyra {

namespace {

// One key of the traffic counter: an integer as it is, or a text holding a base-10 integer.
std::optional<qint64> lenientInteger(const json::Json &object, const char *key)
{
    auto it = object.find(key);
    if (it == object.end())
        return std::nullopt;
    if (it->is_number())
        return json::integerValue(*it);
    if (it->is_string()) {
        const QString text = json::qstr(it->get<std::string>()).trimmed();
        // Only an optional sign and digits: no blanks inside, no hexadecimal, no fractions.
        static const QRegularExpression digits(QStringLiteral("^[+-]?[0-9]+$"));
        if (!digits.match(text).hasMatch())
            return std::nullopt;
        bool ok = false;
        const qint64 number = text.toLongLong(&ok, 10);
        if (ok)
            return number;
    }
    return std::nullopt;
}

} // namespace

std::optional<qint64> Membership::readTrafficUsed(const json::Json &object)
{
    for (const char *key :
        { "trafficUsedBytes", "traffic_used_bytes", "usedTrafficBytes", "trafficBytesUsed", "usedBytes" }) {
        if (auto value = lenientInteger(object, key))
            return value;
    }
    std::optional<qint64> upload = lenientInteger(object, "uploadBytes");
    if (!upload)
        upload = lenientInteger(object, "upload");
    std::optional<qint64> download = lenientInteger(object, "downloadBytes");
    if (!download)
        download = lenientInteger(object, "download");
    if (!upload && !download)
        return std::nullopt;
    const qint64 up = std::max<qint64>(upload.value_or(0), 0);
    const qint64 down = std::max<qint64>(download.value_or(0), 0);
    // Saturate instead of overflowing on absurd counters.
    if (up > std::numeric_limits<qint64>::max() - down)
        return std::numeric_limits<qint64>::max();
    return up + down;
}

Membership Membership::fromJson(const json::Json &value)
{
    json::requireObject(value, "membership");
    Membership membership;
    membership.active = json::optionalBool(value, "active").value_or(false);
    membership.planId = json::optionalString(value, "planId");
    membership.expiresAt = json::optionalString(value, "expiresAt");
    membership.lifetime = json::optionalBool(value, "lifetime");
    membership.deviceLimit = json::optionalInteger(value, "deviceLimit");
    membership.trafficUsedBytes = readTrafficUsed(value);
    return membership;
}

AccountUser AccountUser::fromJson(const json::Json &value)
{
    json::requireObject(value, "account");
    AccountUser user;
    user.account = json::requireString(value, "account");
    auto membership = value.find("membership");
    if (membership != value.end() && !membership->is_null())
        user.membership = Membership::fromJson(*membership);
    user.subscriptionUrlToken = json::optionalString(value, "subscriptionUrlToken");
    user.subscriptionUrl = json::optionalString(value, "subscriptionUrl");
    return user;
}

Plan Plan::fromJson(const json::Json &value)
{
    json::requireObject(value, "plan");
    Plan plan;
    plan.id = json::requireString(value, "id");
    plan.name = json::requireString(value, "name");
    plan.durationDays = json::optionalInteger(value, "durationDays");
    plan.lifetime = json::optionalBool(value, "lifetime");
    plan.priceFen = json::requireInteger(value, "priceFen");
    plan.trafficBytes = json::optionalInteger(value, "trafficBytes");
    plan.deviceLimit = json::optionalInteger(value, "deviceLimit");
    plan.enabled = json::optionalBool(value, "enabled");
    plan.sortOrder = json::optionalInteger(value, "sortOrder");
    auto features = value.find("features");
    if (features != value.end() && !features->is_null()) {
        if (!features->is_array())
            throw SystemError(QStringLiteral("数据字段“features”类型不正确。"));
        QStringList list;
        for (const auto &item : *features) {
            if (!item.is_string())
                throw SystemError(QStringLiteral("数据字段“features”类型不正确。"));
            list << json::qstr(item.get<std::string>());
        }
        plan.features = list;
    }
    return plan;
}

QList<Plan> Plan::listFromJson(const json::Json &value)
{
    if (!value.is_array())
        throw SystemError(QStringLiteral("套餐列表不是 JSON 数组。"));
    QList<Plan> plans;
    for (const auto &item : value)
        plans << Plan::fromJson(item);
    return plans;
}

PaymentOrder::Outcome PaymentOrder::outcome() const
{
    const QString word = status.toLower();
    if (word == QLatin1String("paid"))
        return Outcome::paid;
    if (word == QLatin1String("closed") || word == QLatin1String("cancelled") || word == QLatin1String("canceled"))
        return Outcome::cancelled;
    if (word == QLatin1String("expired"))
        return Outcome::expired;
    if (word == QLatin1String("failed") || word == QLatin1String("payment_error"))
        return Outcome::failed;
    return Outcome::open;
}

bool PaymentOrder::isPaid() const { return outcome() == Outcome::paid; }

bool PaymentOrder::isFinal() const { return outcome() != Outcome::open; }

PaymentOrder PaymentOrder::fromJson(const json::Json &value)
{
    json::requireObject(value, "order");
    PaymentOrder order;
    order.orderNo = json::requireString(value, "orderNo");
    order.planName = json::optionalString(value, "planName");
    order.method = json::requireString(value, "method");
    order.amountFen = json::optionalInteger(value, "amountFen");
    order.status = json::requireString(value, "status");
    order.paymentUrl = json::optionalString(value, "paymentUrl");
    order.codeUrl = json::optionalString(value, "codeUrl");
    return order;
}

AuthResult AuthResult::fromJson(const json::Json &value)
{
    json::requireObject(value, "auth result");
    AuthResult result;
    result.token = json::requireString(value, "token");
    auto user = value.find("user");
    if (user != value.end() && !user->is_null())
        result.user = AccountUser::fromJson(*user);
    return result;
}

} // namespace veyra
