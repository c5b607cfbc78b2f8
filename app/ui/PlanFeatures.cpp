#include "PlanFeatures.h"

#include "TrafficUsageStore.h"

namespace veyra::ui {

namespace {

    // Own features that speak of traffic or devices: the computed entries say it from the
    // plan's numbers, so a stale marketing line cannot contradict them.
    bool mentionsTrafficOrDevices(const QString &feature)
    {
        return feature.contains(QLatin1String("GB"), Qt::CaseInsensitive) || feature.contains(QStringLiteral("流量"))
            || feature.contains(QStringLiteral("设备"));
    }

} // namespace

QStringList displayFeatures(const Plan &plan)
{
    QStringList features;
    if (plan.lifetime.value_or(false))
        features << QStringLiteral("长期有效");
    else if (!plan.durationDays || *plan.durationDays < 1)
        features << QStringLiteral("以套餐说明为准");
    else
        features << QString::number(*plan.durationDays) + QStringLiteral(" 天");

    // Binary units, the same byte-count form as the traffic texts elsewhere ("200 GB").
    if (plan.trafficBytes && *plan.trafficBytes > 0)
        features << formatBytes(*plan.trafficBytes);
    else
        features << QStringLiteral("不限流量");

    if (plan.deviceLimit && *plan.deviceLimit > 0)
        features << QString::number(*plan.deviceLimit) + QStringLiteral(" 台设备");

    for (const QString &feature : plan.features.value_or(QStringList())) {
        if (mentionsTrafficOrDevices(feature) || features.contains(feature))
            continue;
        features << feature;
    }
    return features;
}

QString priceText(qint64 fen) { return QString::asprintf("¥%.2f", static_cast<double>(fen) / 100.0); }

QString orderStatusText(const PaymentOrder &order)
{
    switch (order.outcome()) {
    case PaymentOrder::Outcome::paid:
        return QStringLiteral("已支付");
    case PaymentOrder::Outcome::cancelled:
        return QStringLiteral("已取消");
    case PaymentOrder::Outcome::expired:
        return QStringLiteral("已过期");
    case PaymentOrder::Outcome::failed:
        return QStringLiteral("支付失败");
    case PaymentOrder::Outcome::open:
        break;
    }
    return QStringLiteral("待支付");
}

QString orderPlanName(const PaymentOrder &order)
{
    if (order.planName && !order.planName->trimmed().isEmpty())
        return *order.planName;
    return QStringLiteral("会员");
}

} // namespace veyra::ui
