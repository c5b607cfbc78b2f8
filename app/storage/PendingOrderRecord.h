#pragma once

#include "Json.h"

#include <QDateTime>
#include <QString>

namespace veyra {

// The unpaid order being watched, kept on disk so a restart can resume it.
struct PendingOrderRecord {
    QString orderNo;
    QDateTime createdAt;

    static PendingOrderRecord fromJson(const json::Json &value)
    {
        json::requireObject(value, "pending order");
        PendingOrderRecord record;
        record.orderNo = json::requireString(value, "orderNo");
        record.createdAt = json::requireDate(value, "createdAt");
        return record;
    }

    json::Json toJson() const
    {
        return json::Json { { "orderNo", json::str(orderNo) }, { "createdAt", json::str(json::isoDate(createdAt)) } };
    }

    bool operator==(const PendingOrderRecord &) const = default;
};

} // namespace veyra
