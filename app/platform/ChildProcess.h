#pragma once

#include <QCoroTask>
#include <QProcess>

namespace veyra {

// Waits until a just-started process runs (true) or has failed to start (false), within
// `timeoutMs`. Unlike waiting for the started signal, a program that cannot be executed is
// reported as soon as Qt knows, instead of after the whole time-out.
QCoro::Task<bool> processStarted(QProcess &process, int timeoutMs = 10'000);

} // namespace veyra
