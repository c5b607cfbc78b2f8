#include "ResumeRelay.h"

namespace veyra {

ResumeRelay::ResumeRelay(
    std::coroutine_handle<> waiting, std::chrono::milliseconds limit, std::function<void(bool)> onFire)
    : m_waiting(waiting)
    , m_onFire(std::move(onFire))
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, this, [this] { fire(false); });
    m_timer.start(limit);
}

void ResumeRelay::fire(bool happened)
{
    if (m_fired)
        return;
    m_fired = true;
    m_timer.stop();
    if (m_onFire)
        m_onFire(happened);
    QMetaObject::invokeMethod(
        this,
        [this] {
            deleteLater();
            m_waiting.resume();
        },
        Qt::QueuedConnection);
}

} // namespace veyra
