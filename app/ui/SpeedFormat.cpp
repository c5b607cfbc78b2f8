#include "SpeedFormat.h"

#include <QLocale>

namespace veyra::ui {

QString rateText(qint64 bytesPerSecond)
{
    // Powers of 1024 with the familiar KB and MB, in the user's own number format.
    return QLocale().formattedDataSize(bytesPerSecond, 1, QLocale::DataSizeTraditionalFormat) + QStringLiteral("/s");
}

QString uploadText(const TrafficRateSample &rate) { return QStringLiteral("↑ ") + rateText(rate.up); }

QString downloadText(const TrafficRateSample &rate) { return QStringLiteral("↓ ") + rateText(rate.down); }

QString speedText(const TrafficRateSample &rate) { return uploadText(rate) + QLatin1Char(' ') + downloadText(rate); }

} // namespace veyra::ui
