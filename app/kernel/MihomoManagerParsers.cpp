#include "MihomoManager.h"

#include <QUrl>

#include <cmath>
#include <limits>

namespace veyra {

namespace {

struct Region {
    const char *name;
    const char *flag;
    std::initializer_list<const char *> keywords;
};

// Searched in order; the first region with a keyword anywhere in the lower-cased name wins.
const Region regions[] = {
    { "日本", "🇯🇵", { "东京", "日本", "japan", "tokyo", "osaka", " jp" } },
    { "香港", "🇭🇰", { "香港", "hong kong", "hongkong", " hk" } },
    { "新加坡", "🇸🇬", { "新加坡", "singapore", " sg" } },
    { "台湾", "🇹🇼", { "台湾", "台北", "taiwan", "taipei", " tw" } },
    { "美国", "🇺🇸", { "美国", "洛杉矶", "西雅图", "united states", "los angeles", " us" } },
    { "韩国", "🇰🇷", { "韩国", "首尔", "korea", "seoul", " kr" } },
    { "英国", "🇬🇧", { "英国", "伦敦", "united kingdom", "london", " uk" } },
};

std::optional<qint64> parseDecimal(const QString &raw)
{
    const QString text = raw.trimmed();
    qsizetype index = 0;
    bool negative = false;
    if (index < text.size() && (text[index] == QLatin1Char('+') || text[index] == QLatin1Char('-'))) {
        negative = text[index] == QLatin1Char('-');
        ++index;
    }
    if (index == text.size())
        return std::nullopt;
    // Accumulated as a negative number so that the most negative value fits too.
    qint64 value = 0;
    constexpr qint64 lowest = std::numeric_limits<qint64>::min();
    for (; index < text.size(); ++index) {
        const QChar c = text[index];
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        const int digit = c.unicode() - '0';
        if (value < (lowest + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == lowest)
            return std::nullopt;
        value = -value;
    }
    return value;
}

const json::Json *findCaseInsensitive(const json::Json &object, const char *key)
{
    const QString wanted = QString::fromLatin1(key);
    for (auto it = object.begin(); it != object.end(); ++it)
        if (json::qstr(it.key()).compare(wanted, Qt::CaseInsensitive) == 0)
            return &it.value();
    return nullptr;
}

// A controller body that is a JSON object; anything else (not JSON at all, or an array or a
// scalar) has nothing to read from.
std::optional<json::Json> parseObject(const QByteArray &data)
{
    json::Json document;
    try {
        document = json::Json::parse(data.constBegin(), data.constEnd());
    } catch (const std::exception &) {
        return std::nullopt;
    }
    if (!document.is_object())
        return std::nullopt;
    return document;
}

} // namespace

std::optional<qint64> MihomoManager::integer(const json::Json *value)
{
    if (!value)
        return std::nullopt;
    if (value->is_boolean())
        return value->get<bool>() ? 1 : 0;
    if (value->is_number_unsigned()) {
        const auto number = value->get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        return static_cast<qint64>(number);
    }
    if (value->is_number_integer())
        return value->get<std::int64_t>();
    if (value->is_number_float()) {
        const double number = std::trunc(value->get<double>());
        // Out of range (or not a number) has no 64-bit value; converting it would be undefined.
        if (!(number >= -9223372036854775808.0 && number < 9223372036854775808.0))
            return std::nullopt;
        return static_cast<qint64>(number);
    }
    if (value->is_string())
        return parseDecimal(json::qstr(value->get<std::string>()));
    return std::nullopt;
}

std::optional<TrafficRateSample> MihomoManager::parseTrafficSample(const QByteArray &data)
{
    const std::optional<json::Json> document = parseObject(data);
    if (!document)
        return std::nullopt;
    const auto up = document->find("up");
    const auto down = document->find("down");
    if (up == document->end() || down == document->end())
        return std::nullopt;
    const std::optional<qint64> upRate = integer(&*up);
    const std::optional<qint64> downRate = integer(&*down);
    if (!upRate || !downRate)
        return std::nullopt;
    return TrafficRateSample { *upRate, *downRate };
}

std::optional<qint64> MihomoManager::parseProviderTrafficUsage(const QByteArray &data, const QString &providerID)
{
    const std::optional<json::Json> document = parseObject(data);
    if (!document)
        return std::nullopt;
    const auto providers = document->find("providers");
    if (providers == document->end() || !providers->is_object())
        return std::nullopt;
    const auto provider = providers->find(json::str(providerID));
    if (provider == providers->end() || !provider->is_object())
        return std::nullopt;
    // A "subscriptionInfo" that is present but not an object (null, say) does not hide the
    // older "subscription-info" spelling.
    auto info = provider->find("subscriptionInfo");
    if (info == provider->end() || !info->is_object())
        info = provider->find("subscription-info");
    if (info == provider->end() || !info->is_object())
        return std::nullopt;

    const std::optional<qint64> upload = integer(findCaseInsensitive(*info, "upload"));
    const std::optional<qint64> download = integer(findCaseInsensitive(*info, "download"));
    if (!upload && !download)
        return std::nullopt;
    const qint64 first = std::max<qint64>(0, upload.value_or(0));
    const qint64 second = std::max<qint64>(0, download.value_or(0));
    // Two non-negative counts: saturate rather than wrap when a server reports absurd values.
    if (first > std::numeric_limits<qint64>::max() - second)
        return std::numeric_limits<qint64>::max();
    return first + second;
}

QString MihomoManager::path(const QString &component)
{
    // URL-path characters stay as they are, except "/" so that a group name cannot split the
    // path. ";" is not one of them: it would start path parameters.
    const QByteArray encoded = QUrl::toPercentEncoding(component, "!$&'()*+,=:@");
    if (encoded.isEmpty() && !component.isEmpty())
        return component;
    return QString::fromLatin1(encoded);
}

std::pair<QString, QString> MihomoManager::region(const QString &name)
{
    const QString lowered = name.toLower();
    for (const Region &candidate : regions)
        for (const char *keyword : candidate.keywords)
            if (lowered.contains(QString::fromUtf8(keyword)))
                return { QString::fromUtf8(candidate.name), QString::fromUtf8(candidate.flag) };
    return { QStringLiteral("其他地区"), QStringLiteral("🌐") };
}

} // namespace veyra
