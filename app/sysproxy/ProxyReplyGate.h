#pragma once

#include <QByteArray>

#include <exception>
#include <functional>
#include <mutex>
#include <variant>

namespace veyra {

// One-shot hand-over of a helper call's outcome. The reply, a connection error and the
// time-out may all try to finish the same call; the first one wins and every later call is
// ignored, from any thread. The continuation runs outside the lock.
class ProxyReplyGate {
public:
    using Result = std::variant<QByteArray, std::exception_ptr>;

    explicit ProxyReplyGate(std::function<void(Result)> continuation);

    // True when this call delivered the result.
    bool finish(Result result);
    bool isFinished() const;

private:
    mutable std::mutex m_lock;
    std::function<void(Result)> m_continuation;
};

} // namespace veyra
