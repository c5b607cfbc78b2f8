#pragma once

#include <QCoroTask>

#include <exception>
#include <optional>
#include <utility>
#include <vector>

namespace veyra {

// The outcome of a task: its value or its failure. Tasks start as soon as they are made, so
// independent steps (reads of one tool, say) can be started together and then awaited with
// `settleAll`, which waits for every one before any failure is passed on: nothing keeps running
// behind a caller that has already given up.
template <typename T> struct Settled {
    std::optional<T> value;
    std::exception_ptr failure;

    // The value, or the failure rethrown.
    T take()
    {
        if (failure)
            std::rethrow_exception(failure);
        return std::move(*value);
    }
};

template <typename T> QCoro::Task<Settled<T>> settle(QCoro::Task<T> task)
{
    Settled<T> outcome;
    try {
        outcome.value = co_await std::move(task);
    } catch (...) {
        outcome.failure = std::current_exception();
    }
    co_return outcome;
}

// What a task that gives no value ended with: a failure, or null. A task cannot carry a bare
// exception_ptr as its value, hence the wrapper; it reads as the pointer.
struct Failure {
    std::exception_ptr error;
    operator std::exception_ptr() const { return error; } // NOLINT(google-explicit-constructor)
};

// The failure of a task that gives no value; null when it succeeded. For the steps whose failure
// is answered (a roll-back, a message) after the wait rather than passed on at once.
inline QCoro::Task<Failure> failureOf(QCoro::Task<void> task)
{
    Failure outcome;
    try {
        co_await std::move(task);
    } catch (...) {
        outcome.error = std::current_exception();
    }
    co_return outcome;
}

// Waits for every task, in order, and returns their outcomes in the same order.
template <typename T> QCoro::Task<std::vector<Settled<T>>> settleAll(std::vector<QCoro::Task<Settled<T>>> tasks)
{
    std::vector<Settled<T>> outcomes;
    outcomes.reserve(tasks.size());
    for (QCoro::Task<Settled<T>> &task : tasks)
        outcomes.push_back(co_await std::move(task));
    co_return outcomes;
}

} // namespace veyra
