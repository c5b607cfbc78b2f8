#pragma once

#include "Models.h"

#include <QString>
#include <QStringList>

namespace veyra::ui {

// What a plan card lists, in order: duration, traffic, devices, then the plan's own features
// without those that would contradict or repeat the computed ones.
QStringList displayFeatures(const Plan &plan);

// An amount in fen as yuan, "¥25.00".
QString priceText(qint64 fen);

// The status in words: "已支付", "待支付", "已取消", "已过期" or "支付失败".
QString orderStatusText(const PaymentOrder &order);
// The plan an order is for, or "会员" when the service did not name it.
QString orderPlanName(const PaymentOrder &order);

} // namespace veyra::ui
