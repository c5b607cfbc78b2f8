#pragma once

#include <QCoroFuture>
#include <QCoroTask>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <exception>
#include <optional>
#include <type_traits>

namespace veyra {

// One background thread on which a collaborator runs its blocking work (hashing,
// name resolution, secret storage, file copies) one job at a time, in submission order.
// Callers on the main thread co_await the result; exceptions thrown by the job reach the
// awaiting coroutine unchanged.
class SerialExecutor {
public:
    SerialExecutor();
    ~SerialExecutor();
    SerialExecutor(const SerialExecutor &) = delete;
    SerialExecutor &operator=(const SerialExecutor &) = delete;

    // Takes the job by lvalue reference (and moves from it) on purpose: g++ 12 destroys a
    // capturing lambda that is created inside a co_await expression twice, corrupting what it
    // captured. Name the job first, then await it:
    //     auto job = [path] { return load(path); };
    //     auto value = co_await executor.run(job);
    // A temporary lambda does not compile here, so the trap cannot be stepped into.
    template <typename F> auto run(F &job) -> QCoro::Task<std::invoke_result_t<F>>
    {
        // Not a coroutine itself: the job is moved into the pool here and only the future is
        // awaited.
        using R = std::invoke_result_t<F>;
        return awaitOutcome<R>(QtConcurrent::run(&m_pool, [job = std::move(job)]() mutable {
            Outcome<R> outcome;
            try {
                if constexpr (std::is_void_v<R>) {
                    job();
                    outcome.value.emplace();
                } else {
                    outcome.value.emplace(job());
                }
            } catch (...) {
                outcome.failure = std::current_exception();
            }
            return outcome;
        }));
    }

    // Blocks until queued jobs are done; for shutdown and tests, never on the event loop.
    void waitForDone();

private:
    struct Nothing { };
    template <typename R> struct Outcome {
        std::optional<std::conditional_t<std::is_void_v<R>, Nothing, R>> value;
        std::exception_ptr failure;
    };

    template <typename R> static QCoro::Task<R> awaitOutcome(QFuture<Outcome<R>> future)
    {
        Outcome<R> outcome = co_await future;
        if (outcome.failure)
            std::rethrow_exception(outcome.failure);
        if constexpr (!std::is_void_v<R>)
            co_return std::move(*outcome.value);
    }

    QThreadPool m_pool;
};

} // namespace veyra
