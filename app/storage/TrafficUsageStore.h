#pragma once

#include "Json.h"

#include <QDateTime>
#include <QString>
#include <optional>

namespace veyra {

// Whose traffic a locally counted figure belongs to: one account, one plan, one period.
struct TrafficUsageIdentity {
    QString account;
    std::optional<QString> planID;
    std::optional<QString> expiresAt;

    static TrafficUsageIdentity fromJson(const json::Json &value);
    json::Json toJson() const;
    bool operator==(const TrafficUsageIdentity &) const = default;
};

// The content of "traffic-usage.json".
struct TrafficUsageRecord {
    TrafficUsageIdentity identity;
    qint64 usedBytes = 0;
    QDateTime updatedAt;

    static TrafficUsageRecord fromJson(const json::Json &value);
    json::Json toJson() const;
};

class TrafficUsageStore {
public:
    // The stored count for exactly this identity (negative counts read as 0), or nothing.
    // Never fails: an unreadable or foreign record simply gives nothing.
    static std::optional<qint64> load(const TrafficUsageIdentity &identity);
};

// Used and allowed traffic as the pages show it.
struct TrafficUsageSummary {
    std::optional<qint64> usedBytes;
    std::optional<qint64> quotaBytes;
    bool quotaKnown = false;

    QString quotaText() const;
    std::optional<QString> remainingText() const;
    std::optional<QString> percentageText() const;
    QString summaryText() const;

    bool operator==(const TrafficUsageSummary &) const = default;
};

// Byte counts in binary units with at most one decimal, e.g. "1.5 GB", "512 KB", "0 B".
QString formatBytes(qint64 bytes);

} // namespace veyra
