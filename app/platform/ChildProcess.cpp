#include "ProcessStart.h"

#include <QCoroTimer>
#include <QElapsedTimer>

namespace veyra {

QCoro::Task<bool> processStarted(QProcess &process, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (process.state() == QProcess::Starting && clock.elapsed() < timeoutMs)
        co_await QCoro::sleepFor(std::chrono::milliseconds(5));
    // A program that ran and already ended did start; only a failed launch counts as false.
    co_return process.state() == QProcess::Running
        || (process.state() == QProcess::NotRunning && process.error() != QProcess::FailedToStart);
}

} // namespace veyra
