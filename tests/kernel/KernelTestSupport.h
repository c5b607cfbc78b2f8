#pragma once

#include "AppSettings.h"
#include "Errors.h"
#include "ProviderSource.h"
#include "TestSupport.h"

#include <functional>

namespace veyra::test {

// A TCP port on 127.0.0.1 that was free a moment ago.
quint16 freePort();

// Settings with three free ports.
AppSettings settingsWithFreePorts();

// Writes an executable shell script as the "mihomo" resource, with its checksum.
void installScriptResource(const QString &directory, const QByteArray &script);

// Everything the diagnostic log holds so far.
QString diagnosticLog();

// Whether a process with this id still exists (and is not a zombie).
bool processAlive(qint64 pid);

// Keeps the event loop turning until `condition` holds or `limitMs` passes; the final verdict.
bool eventually(const std::function<bool()> &condition, int limitMs = 5000);

QString bundledKernelDirectory();

struct ProgramResult {
    int exitCode = -1;
    QByteArray standardOutput;
    QByteArray standardError;
};

// Runs a program to its end without blocking the event loop (local servers keep answering).
QCoro::Task<ProgramResult> runProgram(QString program, QStringList arguments);

// The description of the error a task ended with, or "<no error>".
template <typename T> QString errorText(QCoro::Task<T> &&task)
{
    try {
        await(std::move(task));
    } catch (const Error &error) {
        return error.description();
    }
    return QStringLiteral("<no error>");
}

} // namespace veyra::test
