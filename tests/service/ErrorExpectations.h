#pragma once

#include "Errors.h"
#include "TestSupport.h"

#include <QString>
#include <typeinfo>

namespace veyra::test {

// Runs the blocking call and returns the description of the error of type E it failed with; a
// success or an error of another type comes back as a text that no expectation will match.
template <typename E, typename F> QString failureOfCall(F &&call)
{
    try {
        call();
    } catch (const E &error) {
        return error.description();
    } catch (const std::exception &other) {
        return QStringLiteral("<unexpected %1: %2>")
            .arg(QString::fromLatin1(typeid(other).name()), QString::fromUtf8(other.what()));
    }
    return QStringLiteral("<no error>");
}

// The same for a task, run to its end.
template <typename E, typename T> QString failureOf(QCoro::Task<T> &&task)
{
    auto run = [&task] { await(std::move(task)); };
    return failureOfCall<E>(run);
}

} // namespace veyra::test
