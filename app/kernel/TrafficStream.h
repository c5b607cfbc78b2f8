#pragma once

#include <QByteArray>
#include <QObject>
#include <QUrl>
#include <QWebSocket>

#include <coroutine>
#include <deque>
#include <memory>
#include <optional>

namespace veyra {

// The open traffic WebSocket of the kernel's controller. Messages are queued as they arrive
// (a bounded queue: a reader that falls behind loses the oldest samples, which are stale
// anyway) until the manager takes them one at a time.
class TrafficStream : public QObject {
    Q_OBJECT
public:
    // Frames above this are refused by the socket itself; the manager applies the tighter
    // per-sample limit, so a slightly oversized sample still gets the proper message.
    static constexpr quint64 maximumFrame = 64 * 1024;
    static constexpr size_t maximumQueued = 64;

    TrafficStream(const QUrl &url, const QByteArray &bearerSecret, int timeoutMs, QObject *parent = nullptr);

    bool hasMessage() const { return !m_messages.empty(); }
    QByteArray takeMessage();
    // Set once the stream can deliver nothing more; the text is the transport's own.
    const std::optional<QString> &failure() const { return m_failure; }
    // Whether the stream ended because a message was larger than the socket accepts.
    bool refusedOversizedMessage() const { return m_oversized; }

    // Closes with code 1001 (going away) and no reason.
    void cancel();

    // Suspends until the stream changes (message, failure, cancellation, destruction) or
    // `timeoutMs` passes; true when something changed. The coroutine is resumed from the
    // event loop, never from inside the socket's signal.
    struct ChangeAwaiter {
        TrafficStream *stream;
        int timeoutMs;
        std::shared_ptr<bool> changed = std::make_shared<bool>(false);
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> waiting);
        bool await_resume() const noexcept { return *changed; }
    };
    ChangeAwaiter waitForChange(int timeoutMs) { return { this, timeoutMs }; }

signals:
    void changed();

private:
    void fail(const QString &reason);

    QWebSocket m_socket;
    std::deque<QByteArray> m_messages;
    std::optional<QString> m_failure;
    bool m_oversized = false;
};

} // namespace veyra
