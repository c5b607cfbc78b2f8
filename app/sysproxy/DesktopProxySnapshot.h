#pragma once

#include "Json.h"

#include <QString>

#include <optional>
#include <vector>

namespace veyra {

// One key the desktop backend changed: what it held before (nothing when the user had not
// set it) and what we wrote.
struct ProxyKeyRecord {
    QString store;
    QString key;
    std::optional<QString> previous;
    QString applied;

    bool operator==(const ProxyKeyRecord &) const = default;
};

// The desktop backend's journal. Every key is required when reading ("previous" may be null);
// a file that does not decode is an error, not an absent journal.
struct DesktopProxySnapshot {
    std::vector<ProxyKeyRecord> keys;

    json::Json toJson() const;
    static DesktopProxySnapshot fromJson(const json::Json &value);
};

} // namespace veyra
