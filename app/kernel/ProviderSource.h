#pragma once

#include <QString>

namespace veyra {

// Where the kernel takes its nodes from: one remote HTTP provider.
struct ProviderSource {
    QString providerID; // YAML key, group member source and cache file name; chosen by the application
    QString url; // the subscription address, already checked by the address policy
    QString userAgent;
    QString deviceID;
    qint64 updateInterval = 3600; // seconds

    bool operator==(const ProviderSource &) const = default;
};

} // namespace veyra
