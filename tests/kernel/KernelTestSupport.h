#pragma once

#include "AppSettings.h"
#include "ProviderSource.h"

#include <QByteArray>
#include <QString>

namespace veyra::test {

// A TCP port on 127.0.0.1 that was free a moment ago.
quint16 freePort();

// Settings with three free ports.
AppSettings settingsWithFreePorts();

// Puts `executable` into `directory` as "mihomo" with a matching "mihomo.sha256".
void installResource(const QString &directory, const QString &executable);
// Writes an executable shell script as the "mihomo" resource, with its checksum.
void installScriptResource(const QString &directory, const QByteArray &script);

// Everything the diagnostic log holds so far.
QString diagnosticLog();

// Whether a process with this id still exists (and is not a zombie).
bool processAlive(qint64 pid);

QString bundledKernelDirectory();
QString stubbornKernel();

} // namespace veyra::test

#include <QCoroTask>
#include <QStringList>

namespace veyra::test {

struct ProgramResult {
    int exitCode = -1;
    QByteArray standardOutput;
    QByteArray standardError;
};

// Runs a program to its end without blocking the event loop (local servers keep answering).
QCoro::Task<ProgramResult> runProgram(QString program, QStringList arguments);

} // namespace veyra::test

#include <exception>
#include <optional>

namespace veyra::test {

namespace detail {
template <typename T> QCoro::Task<std::optional<T>> capture(QCoro::Task<T> task, std::exception_ptr *failure)
{
    try {
        co_return co_await std::move(task);
    } catch (...) {
        *failure = std::current_exception();
    }
    co_return std::nullopt;
}
QCoro::Task<bool> captureVoid(QCoro::Task<> task, std::exception_ptr *failure);
} // namespace detail

// Runs a coroutine to completion and rethrows what it threw. A plain QCoro::waitFor never
// returns when the task ends in an exception, which would hang every failure test.
template <typename T> T awaitOrThrow(QCoro::Task<T> &&task)
{
    std::exception_ptr failure;
    if constexpr (std::is_void_v<T>) {
        QCoro::waitFor(detail::captureVoid(std::move(task), &failure));
        if (failure)
            std::rethrow_exception(failure);
    } else {
        std::optional<T> result = QCoro::waitFor(detail::capture<T>(std::move(task), &failure));
        if (failure)
            std::rethrow_exception(failure);
        return std::move(*result);
    }
}

} // namespace veyra::test
