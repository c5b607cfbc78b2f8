#include "ChildProcess.h"

#include "Errors.h"

#include <QCoroProcess>
#include <QCoroTimer>
#include <QElapsedTimer>
#include <QPointer>

using namespace std::chrono_literals;

namespace veyra {

namespace {

void appendCapped(QByteArray &collected, const QByteArray &more, qsizetype cap)
{
    if (collected.size() < cap)
        collected += more.left(cap - collected.size());
}

} // namespace

QCoro::Task<bool> processStarted(QProcess *process, int timeoutMs)
{
    const QPointer<QProcess> guard(process);
    QElapsedTimer clock;
    clock.start();
    while (guard && guard->state() == QProcess::Starting && clock.elapsed() < timeoutMs)
        co_await QCoro::sleepFor(5ms);
    if (!guard)
        co_return false;
    // A program that ran and already ended did start; only a failed launch counts as false.
    co_return guard->state() == QProcess::Running
        || (guard->state() == QProcess::NotRunning && guard->error() != QProcess::FailedToStart);
}

QCoro::Task<ChildProcessResult> runChildProcess(QString program, QStringList arguments, ChildProcessOptions options)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    ChildProcessResult result;
    const qsizetype cap = options.outputCap;
    QObject::connect(&process, &QProcess::readyReadStandardOutput, &process,
        [&] { appendCapped(result.standardOutput, process.readAllStandardOutput(), cap); });
    QObject::connect(&process, &QProcess::readyReadStandardError, &process,
        [&] { appendCapped(result.standardError, process.readAllStandardError(), cap); });
    process.start();
    if (!co_await processStarted(&process))
        throw SystemError(process.errorString());

    // A child that is already over counts as finished; waiting on it would report failure.
    bool finished = process.state() == QProcess::NotRunning;
    if (!finished)
        finished = co_await qCoro(process).waitForFinished(options.timeout);
    if (!finished) {
        result.timedOut = true;
        process.kill();
        if (process.state() != QProcess::NotRunning)
            co_await qCoro(process).waitForFinished(2s);
    }
    appendCapped(result.standardOutput, process.readAllStandardOutput(), cap);
    appendCapped(result.standardError, process.readAllStandardError(), cap);
    result.exitStatus = process.exitStatus();
    result.exitCode = process.exitCode();
    co_return result;
}

} // namespace veyra
