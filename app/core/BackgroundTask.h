#pragma once

#include <QCoroTask>
#include <QObject>

#include <chrono>
#include <coroutine>
#include <memory>

namespace veyra {

// The stop flag of one background loop. The loop checks it after every suspension; cancelling
// also wakes a pending sleep at once, and the owner aborts other pending work (a socket, a
// process) where it can.
class CancellationToken : public QObject {
    Q_OBJECT
public:
    bool isCancelled() const { return m_cancelled; }
    void cancel();

signals:
    void cancelled();

private:
    bool m_cancelled = false;
};

using CancellationTokenPtr = std::shared_ptr<CancellationToken>;

// Suspends for `duration`, or until the token is cancelled, whichever comes first. The
// coroutine is resumed from the event loop, never from inside cancel(). Holds nothing of the
// caller, so it is safe whatever happens to the loop's owner meanwhile. Always await a named
// one: this compiler mishandles temporaries with non-trivial members in a co_await expression.
class CancellableSleep {
public:
    CancellableSleep(CancellationTokenPtr token, std::chrono::milliseconds duration)
        : m_token(std::move(token))
        , m_duration(duration)
    {
    }
    bool await_ready() const noexcept { return m_token->isCancelled(); }
    void await_suspend(std::coroutine_handle<> waiting);
    void await_resume() const noexcept { }

private:
    CancellationTokenPtr m_token;
    std::chrono::milliseconds m_duration;
};

// A running background loop: its coroutine and the token that stops it. Dropping the handle
// does not stop the loop; cancel() does.
class BackgroundTask {
public:
    BackgroundTask(QCoro::Task<> task, CancellationTokenPtr token)
        : m_task(std::move(task))
        , m_token(std::move(token))
    {
    }
    void cancel() { m_token->cancel(); }
    bool isFinished() const { return m_task.isReady(); }

private:
    QCoro::Task<> m_task;
    CancellationTokenPtr m_token;
};

} // namespace veyra
