#pragma once

#include "AppModel.h"

#include <QString>

namespace veyra::ui {

// A rate as the system formats byte sizes ("12.3 KB"), per second.
QString rateText(qint64 bytesPerSecond);
// Upload then download, as the dashboard and the tray read them: "↑ 12.3 KB/s ↓ 1.2 MB/s".
QString uploadText(const TrafficRateSample &rate);
QString downloadText(const TrafficRateSample &rate);
QString speedText(const TrafficRateSample &rate);

} // namespace veyra::ui
