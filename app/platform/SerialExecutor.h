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

    template <typename F> auto run(F job) -> QCoro::Task<std::invoke_result_t<F>>
    {
        using R = std::invoke_result_t<F>;
        if constexpr (std::is_void_v<R>) {
            std::exception_ptr failure = co_await QtConcurrent::run(&m_pool, [job = std::move(job)]() mutable {
                try {
                    job();
                    return std::exception_ptr {};
                } catch (...) {
                    return std::current_exception();
                }
            });
            if (failure)
                std::rethrow_exception(failure);
        } else {
            struct Outcome {
                std::optional<R> value;
                std::exception_ptr failure;
            };
            Outcome outcome = co_await QtConcurrent::run(&m_pool, [job = std::move(job)]() mutable {
                Outcome result;
                try {
                    result.value.emplace(job());
                } catch (...) {
                    result.failure = std::current_exception();
                }
                return result;
            });
            if (outcome.failure)
                std::rethrow_exception(outcome.failure);
            co_return std::move(*outcome.value);
        }
    }

    // Blocks until queued jobs are done; for shutdown and tests, never on the event loop.
    void waitForDone();

private:
    QThreadPool m_pool;
};

} // namespace veyra
