// The line's speed as the kernel reports it each second, kept for the last minute so the
// dashboard can draw it and the tray can tell it.
#include "AppModel.h"

#include "AppCollaborators.h"

#include <algorithm>

namespace veyra {

// Not part of stateChanged(): it comes every second while connected, and only the few views
// that show a speed listen for it.
void AppModel::recordSpeed(const TrafficRateSample &sample)
{
    if (m_speedHistory.size() >= speedHistoryCapacity)
        m_speedHistory.removeFirst();
    m_speedHistory.append({ std::max<qint64>(sample.up, 0), std::max<qint64>(sample.down, 0) });
    emit speedChanged();
}

void AppModel::resetSpeed()
{
    if (m_speedHistory.isEmpty())
        return;
    m_speedHistory.clear();
    emit speedChanged();
}

std::optional<TrafficRateSample> AppModel::currentSpeed() const
{
    if (!m_isConnected || m_speedHistory.isEmpty())
        return std::nullopt;
    return m_speedHistory.last();
}

} // namespace veyra
