#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>

namespace veyra {

// Waits until a just-started process runs (true) or has failed to start (false), within
// `timeoutMs`. Unlike waiting for the started signal, a program that cannot be executed is
// reported as soon as Qt knows, instead of after the whole time-out. The process may be
// destroyed by someone else while this waits; that counts as not started.
QCoro::Task<bool> processStarted(QProcess *process, int timeoutMs = 10'000);

// What a short-lived child left behind.
struct ChildProcessResult {
    bool timedOut = false;
    QProcess::ExitStatus exitStatus = QProcess::NormalExit;
    int exitCode = -1;
    QByteArray standardOutput;
    QByteArray standardError;

    bool succeeded() const { return !timedOut && exitStatus == QProcess::NormalExit && exitCode == 0; }
};

struct ChildProcessOptions {
    std::chrono::milliseconds timeout { 30'000 };
    // Bytes kept of each stream; the rest is read and dropped as it arrives, so a chatty child
    // never blocks on a full pipe.
    qsizetype outputCap = 1024 * 1024;
};

// The one way the product runs a helper program to its end: started with standard input from
// the null device and both output streams drained into memory, waited for without blocking the
// event loop, and killed when it outlives the time-out. A launch failure is thrown at once as a
// SystemError with the platform's own text; anything the program itself did is in the result.
QCoro::Task<ChildProcessResult> runChildProcess(
    QString program, QStringList arguments, ChildProcessOptions options = {});

} // namespace veyra
