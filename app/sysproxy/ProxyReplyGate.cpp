#include "ProxyReplyGate.h"

namespace veyra {

ProxyReplyGate::ProxyReplyGate(std::function<void(Result)> continuation)
    : m_continuation(std::move(continuation))
{
}

bool ProxyReplyGate::finish(Result result)
{
    std::function<void(Result)> continuation;
    {
        std::lock_guard lock(m_lock);
        continuation.swap(m_continuation);
    }
    if (!continuation)
        return false;
    continuation(std::move(result));
    return true;
}

bool ProxyReplyGate::isFinished() const
{
    std::lock_guard lock(m_lock);
    return !m_continuation;
}

} // namespace veyra
