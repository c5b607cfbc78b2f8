#include "BackgroundTask.h"

#include <QTimer>
#include <QVariant>

namespace veyra {

void CancellationToken::cancel()
{
    if (m_cancelled)
        return;
    m_cancelled = true;
    emit cancelled();
}

void CancellableSleep::await_suspend(std::coroutine_handle<> waiting)
{
    // A one-shot relay: the timer or the cancellation, whichever fires first, schedules the
    // resumption once and takes the relay down with it.
    auto *relay = new QObject();
    auto *timer = new QTimer(relay);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    auto wake = [relay, timer, waiting] {
        if (relay->property("fired").toBool())
            return;
        relay->setProperty("fired", true);
        timer->stop();
        QMetaObject::invokeMethod(
            relay,
            [relay, waiting] {
                relay->deleteLater();
                waiting.resume();
            },
            Qt::QueuedConnection);
    };
    QObject::connect(m_token.get(), &CancellationToken::cancelled, relay, wake);
    QObject::connect(timer, &QTimer::timeout, relay, wake);
    timer->start(m_duration);
}

} // namespace veyra
