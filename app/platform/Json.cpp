#include "Json.h"

#include "Errors.h"

#include <QRegularExpression>
#include <cmath>
#include <limits>

namespace veyra::json {

QString isoDate(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODate);
}

std::optional<QDateTime> parseIsoDate(const QString &text)
{
    // Internet date-times carry a zone designator; a bare local time is not one.
    static const QRegularExpression zone(
        QStringLiteral("(Z|[+-]\\d{2}:?\\d{2})$"), QRegularExpression::CaseInsensitiveOption);
    const QString trimmed = text.trimmed();
    if (!trimmed.contains(QLatin1Char('T')) && !trimmed.contains(QLatin1Char('t')))
        return std::nullopt;
    if (!zone.match(trimmed).hasMatch())
        return std::nullopt;
    QDateTime parsed = QDateTime::fromString(trimmed, Qt::ISODateWithMs);
    if (!parsed.isValid())
        parsed = QDateTime::fromString(trimmed, Qt::ISODate);
    if (!parsed.isValid())
        return std::nullopt;
    return parsed;
}

Json parse(const QByteArray &bytes)
{
    try {
        return Json::parse(bytes.constBegin(), bytes.constEnd());
    } catch (const Json::exception &e) {
        throw SystemError(QString::fromUtf8(e.what()));
    }
}

static SystemError missing(const char *key)
{
    return SystemError(QStringLiteral("数据缺少字段“%1”。").arg(QString::fromLatin1(key)));
}

static SystemError mistyped(const char *key)
{
    return SystemError(QStringLiteral("数据字段“%1”类型不正确。").arg(QString::fromLatin1(key)));
}

void requireObject(const Json &value, const char *what)
{
    if (!value.is_object())
        throw SystemError(QStringLiteral("%1不是 JSON 对象。").arg(QString::fromLatin1(what)));
}

const Json &require(const Json &object, const char *key)
{
    if (!object.is_object())
        throw mistyped(key);
    auto it = object.find(key);
    if (it == object.end() || it->is_null())
        throw missing(key);
    return *it;
}

QString requireString(const Json &object, const char *key)
{
    const Json &value = require(object, key);
    if (!value.is_string())
        throw mistyped(key);
    return qstr(value.get<std::string>());
}

std::optional<qint64> integerValue(const Json &value)
{
    if (value.is_number_unsigned()) {
        if (value.get<std::uint64_t>() > static_cast<std::uint64_t>(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        return static_cast<qint64>(value.get<std::uint64_t>());
    }
    if (value.is_number_integer())
        return value.get<std::int64_t>();
    if (value.is_number_float()) {
        // Some writers print every number as a double; a whole one in range is still that integer.
        const double number = value.get<double>();
        if (!std::isfinite(number) || std::trunc(number) != number || number < -9223372036854775808.0
            || number >= 9223372036854775808.0)
            return std::nullopt;
        return static_cast<qint64>(number);
    }
    return std::nullopt;
}

qint64 requireInteger(const Json &object, const char *key)
{
    const std::optional<qint64> number = integerValue(require(object, key));
    if (!number)
        throw mistyped(key);
    return *number;
}

static bool present(const Json &object, const char *key)
{
    if (!object.is_object())
        throw mistyped(key);
    auto it = object.find(key);
    return it != object.end() && !it->is_null();
}

QDateTime requireDate(const Json &object, const char *key)
{
    auto date = parseIsoDate(requireString(object, key));
    if (!date)
        throw mistyped(key);
    return *date;
}

std::optional<QString> optionalString(const Json &object, const char *key)
{
    if (!present(object, key))
        return std::nullopt;
    return requireString(object, key);
}

std::optional<qint64> optionalInteger(const Json &object, const char *key)
{
    if (!present(object, key))
        return std::nullopt;
    return requireInteger(object, key);
}

std::optional<bool> optionalBool(const Json &object, const char *key)
{
    if (!present(object, key))
        return std::nullopt;
    const Json &value = object.at(key);
    if (!value.is_boolean())
        throw mistyped(key);
    return value.get<bool>();
}

} // namespace veyra::json
