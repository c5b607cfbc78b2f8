#include "NodeItem.h"

#include <algorithm>

namespace veyra {

int NodeItem::preferenceAdjustment(const QString &name)
{
    const QString key = name.trimmed().toLower();
    if (key == QLatin1String("veyra-aws-tokyo-01") || key == QStringLiteral("日本东京01"))
        return -50;
    if (key == QStringLiteral("美国俄勒冈01"))
        return -100;
    return 0;
}

std::optional<int> NodeItem::displayDelay() const
{
    if (delay <= 0)
        return std::nullopt;
    return std::max(1, delay + preferenceAdjustment(name));
}

} // namespace veyra
