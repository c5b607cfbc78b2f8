#pragma once

#include <QString>
#include <optional>

namespace veyra {

// One proxy node of the running kernel as the application lists it.
struct NodeItem {
    QString name; // the kernel's proxy name, also the node's identity
    QString region;
    QString flag;
    int delay = 0; // milliseconds; 0 or below means not measured or failed
    QString source;

    // The latency every view shows and ranks by: none without a measurement, otherwise the
    // delay with the node's preference adjustment, never below 1.
    std::optional<int> displayDelay() const;
    // The adjustment applied to a node name (trimmed, lower-cased) when ranking.
    static int preferenceAdjustment(const QString &name);

    bool operator==(const NodeItem &) const = default;
};

} // namespace veyra
