#pragma once

#include <QCoroTask>

#include <algorithm>
#include <exception>
#include <vector>

namespace veyra::bench {

// Runs a task to its end on the event loop; its exception is rethrown here.
inline void wait(QCoro::Task<void> &&task)
{
    std::exception_ptr failure;
    auto guarded = [](QCoro::Task<void> inner, std::exception_ptr &error) -> QCoro::Task<void> {
        try {
            co_await std::move(inner);
        } catch (...) {
            error = std::current_exception();
        }
    };
    QCoro::waitFor(guarded(std::move(task), failure));
    if (failure)
        std::rethrow_exception(failure);
}

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Times the desktop backend against a private session with GNOME's and KDE's stores present
// and prints the figures.
void benchDesktopBackend();

} // namespace veyra::bench
