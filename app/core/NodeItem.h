#pragma once

#include <QString>
#include <optional>

namespace veyra {

// One proxy node of the running kernel with its last measured latency.
struct NodeItem {
    QString name;
    QString region;
    QString flag;
    int delay = 0; // milliseconds; 0 or below means not measured or failed
    QString source;

    // The latency every view shows: nothing when unmeasured, otherwise the delay with the
    // preference adjustment for favoured lines, never below 1.
    std::optional<int> displayDelay() const;

    // Favoured lines rank ahead of equally fast ones.
    static int preferenceAdjustment(const QString &name);

    bool operator==(const NodeItem &) const = default;
};

} // namespace veyra
