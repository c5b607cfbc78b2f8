#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <coroutine>
#include <functional>

namespace veyra {

// The one-shot relay behind awaiters that wait for the first of several Qt events or a time
// limit. Whichever comes first calls fire(): the relay notes what happened, schedules the
// coroutine's resumption once (from the event loop, never from inside a signal) and takes
// itself down; later events are ignored. It holds nothing of the coroutine's owner.
class ResumeRelay : public QObject {
public:
    // `onFire` (may be empty) learns whether an event (true) or the time limit (false) won.
    ResumeRelay(std::coroutine_handle<> waiting, std::chrono::milliseconds limit, std::function<void(bool)> onFire);

    void fire(bool happened);

private:
    std::coroutine_handle<> m_waiting;
    std::function<void(bool)> m_onFire;
    QTimer m_timer;
    bool m_fired = false;
};

} // namespace veyra
