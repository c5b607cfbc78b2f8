#pragma once

#include <QtGlobal>

namespace veyra {

// The kernel's current upload and download rates, bytes per second.
struct TrafficRateSample {
    qint64 up = 0;
    qint64 down = 0;

    bool operator==(const TrafficRateSample &) const = default;
};

} // namespace veyra
