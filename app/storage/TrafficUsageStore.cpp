#include "TrafficUsageStore.h"

#include "AppPaths.h"
#include "Errors.h"

#include <cmath>

namespace veyra {

TrafficUsageIdentity TrafficUsageIdentity::fromJson(const json::Json &value)
{
    json::requireObject(value, "identity");
    return { json::requireString(value, "account"), json::optionalString(value, "planID"),
        json::optionalString(value, "expiresAt") };
}

json::Json TrafficUsageIdentity::toJson() const
{
    json::Json value { { "account", json::str(account) } };
    if (planID)
        value["planID"] = json::str(*planID);
    if (expiresAt)
        value["expiresAt"] = json::str(*expiresAt);
    return value;
}

TrafficUsageRecord TrafficUsageRecord::fromJson(const json::Json &value)
{
    json::requireObject(value, "traffic usage");
    TrafficUsageRecord record;
    record.identity = TrafficUsageIdentity::fromJson(json::require(value, "identity"));
    record.usedBytes = json::requireInteger(value, "usedBytes");
    record.updatedAt = json::requireDate(value, "updatedAt");
    return record;
}

json::Json TrafficUsageRecord::toJson() const
{
    return json::Json { { "identity", identity.toJson() }, { "usedBytes", usedBytes },
        { "updatedAt", json::str(json::isoDate(updatedAt)) } };
}

std::optional<qint64> TrafficUsageStore::load(const TrafficUsageIdentity &identity)
{
    try {
        auto record = AppPaths::read<TrafficUsageRecord>(AppPaths::trafficUsage(), AppPaths::trafficUsageCap);
        if (!record || !(record->identity == identity))
            return std::nullopt;
        return std::max<qint64>(record->usedBytes, 0);
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

QString formatBytes(qint64 bytes)
{
    static const char *units[] = { "B", "KB", "MB", "GB", "TB", "PB", "EB" };
    double value = static_cast<double>(std::max<qint64>(bytes, 0));
    int unit = 0;
    while (value >= 1024.0 && unit < 6) {
        value /= 1024.0;
        ++unit;
    }
    // Rounding may carry into the next unit (1023.96 KB is shown as 1 MB, not 1024 KB).
    if (unit < 6 && std::round(value * 10.0) / 10.0 >= 1024.0) {
        value /= 1024.0;
        ++unit;
    }
    QString number = unit == 0 ? QString::number(static_cast<qint64>(value)) : QString::number(value, 'f', 1);
    if (number.endsWith(QLatin1String(".0")))
        number.chop(2);
    return number + QLatin1Char(' ') + QLatin1String(units[unit]);
}

namespace {

qint64 nonNegative(qint64 value)
{
    return std::max<qint64>(value, 0);
}

} // namespace

QString TrafficUsageSummary::quotaText() const
{
    if (!quotaKnown)
        return QStringLiteral("套餐额度同步中");
    if (!quotaBytes || *quotaBytes < 1)
        return QStringLiteral("不限流量");
    return QStringLiteral("总计 ") + formatBytes(*quotaBytes);
}

std::optional<QString> TrafficUsageSummary::remainingText() const
{
    if (!usedBytes || !quotaBytes || *quotaBytes < 1)
        return std::nullopt;
    return formatBytes(nonNegative(*quotaBytes - nonNegative(*usedBytes)));
}

std::optional<QString> TrafficUsageSummary::percentageText() const
{
    if (!usedBytes || !quotaBytes || *quotaBytes < 1)
        return std::nullopt;
    const double ratio = std::min(1.0, static_cast<double>(nonNegative(*usedBytes)) / static_cast<double>(*quotaBytes));
    if (ratio > 0.0 && ratio < 0.01)
        return QStringLiteral("<1%");
    return QString::number(static_cast<qint64>(std::round(ratio * 100.0))) + QLatin1Char('%');
}

QString TrafficUsageSummary::summaryText() const
{
    if (!usedBytes)
        return QStringLiteral("尚无流量数据");
    QString text = QStringLiteral("已用 ") + formatBytes(nonNegative(*usedBytes));
    if (!quotaKnown)
        return text + QStringLiteral(" · 套餐额度同步中");
    if (quotaBytes && *quotaBytes >= 1)
        return text + QStringLiteral(" / ") + formatBytes(*quotaBytes);
    return text + QStringLiteral(" · 不限流量");
}

} // namespace veyra
