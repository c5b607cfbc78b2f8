#include "BackgroundTask.h"

#include "ResumeRelay.h"

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
    // The time running out or the cancellation, whichever comes first, resumes.
    auto *relay = new ResumeRelay(waiting, m_duration, {});
    QObject::connect(m_token.get(), &CancellationToken::cancelled, relay, [relay] { relay->fire(true); });
}

} // namespace veyra
