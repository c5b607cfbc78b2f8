#include "KernelTestSupport.h"

#include "AppPaths.h"
#include "ChildProcess.h"
#include "FileDigest.h"

#include <QCoroTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QTcpServer>

#include <csignal>

namespace veyra::test {

quint16 freePort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort();
}

AppSettings settingsWithFreePorts()
{
    // Held open together, so the three are distinct.
    QTcpServer servers[3];
    for (QTcpServer &server : servers)
        server.listen(QHostAddress::LocalHost, 0);
    AppSettings settings;
    settings.mixedPort = servers[0].serverPort();
    settings.socksPort = servers[1].serverPort();
    settings.controllerPort = servers[2].serverPort();
    return settings;
}

void installScriptResource(const QString &directory, const QByteArray &script)
{
    QDir().mkpath(directory);
    const QString target = directory + QStringLiteral("/mihomo");
    writeBytes(target, script);
    ::chmod(QFile::encodeName(target).constData(), 0755);
    writeBytes(directory + QStringLiteral("/mihomo.sha256"), sha256File(target).toUtf8() + "\n");
}

QString diagnosticLog()
{
    QString text;
    const QDir logs(AppPaths::logs());
    for (const QString &name : logs.entryList({ QStringLiteral("veyra-*") }, QDir::Files, QDir::Name))
        text += QString::fromUtf8(readBytes(logs.filePath(name)));
    return text;
}

bool processAlive(qint64 pid)
{
    if (pid <= 0 || ::kill(static_cast<pid_t>(pid), 0) != 0)
        return false;
    QFile status(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = status.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close < 0 || line.mid(close + 2, 1) != "Z";
}

QString bundledKernelDirectory()
{
    return QStringLiteral(VEYRA_TEST_BUNDLED_KERNEL_DIR);
}

QCoro::Task<ProgramResult> runProgram(QString program, QStringList arguments)
{
    // The product's own runner: a program that cannot start fails at once instead of after
    // a start time-out, and one that hangs is killed.
    ChildProcessOptions options;
    options.timeout = std::chrono::seconds(30);
    options.outputCap = 64 * 1024 * 1024; // tests read whole downloads through it
    ChildProcessResult result;
    try {
        result = co_await runChildProcess(program, arguments, options);
    } catch (const std::exception &error) {
        co_return ProgramResult { -1, {}, QByteArray(error.what()) };
    }
    co_return ProgramResult { result.timedOut ? -1 : result.exitCode, result.standardOutput, result.standardError };
}

bool eventually(const std::function<bool()> &condition, int limitMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition() && clock.elapsed() < limitMs)
        await(QCoro::sleepFor(std::chrono::milliseconds(10)));
    return condition();
}

} // namespace veyra::test
