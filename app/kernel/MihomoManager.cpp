#include "MihomoManager.h"

#include "AppPaths.h"
#include "ChildProcess.h"
#include "ConfigCompiler.h"
#include "CoreInstaller.h"
#include "Errors.h"
#include "Logger.h"
#include "TrafficStream.h"

#include <QCoreApplication>
#include <QCoroTimer>
#include <QDeadlineTimer>
#include <QFile>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QUuid>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace veyra {

namespace {

// The kernel's own test run gets this long; a hung check must not hang the connection.
constexpr auto validationTimeout = 60s;
// Output kept from the test run for the error text; the rest is dropped as it arrives.
constexpr qsizetype maximumValidationOutput = 64 * 1024;

AppError startCancelled()
{
    return AppError(QStringLiteral("Mihomo 启动已被停止。"));
}

bool portIsFree(qint64 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

// Whether a TCP connection to the controller port on 127.0.0.1 comes up within a second.
// Waits for the socket to settle either way: QCoro's connectToHost wakes only on success, so a
// refused connection (the usual answer while the kernel is still starting) would cost the
// whole second and stretch the controller wait to a minute. The state is simply polled,
// as for a starting process.
QCoro::Task<bool> controllerAcceptsConnections(qint64 port)
{
    QTcpSocket probe;
    probe.setProxy(QNetworkProxy::NoProxy);
    probe.connectToHost(QHostAddress(QHostAddress::LocalHost), static_cast<quint16>(port));
    const QDeadlineTimer deadline(1s);
    while (probe.state() != QAbstractSocket::ConnectedState && probe.state() != QAbstractSocket::UnconnectedState
        && !deadline.hasExpired())
        co_await QCoro::sleepFor(2ms);
    const bool connected = probe.state() == QAbstractSocket::ConnectedState;
    probe.abort();
    co_return connected;
}

QString mihomoLogPath()
{
    return AppPaths::logs() + QStringLiteral("/mihomo-current.log");
}

} // namespace

QStringList MihomoManager::defaultResourceDirectories()
{
    return { QCoreApplication::applicationDirPath() + QStringLiteral("/../Resources"),
        QStringLiteral("/usr/share/VeyraNetworkAssistant/Resources") };
}

MihomoManager::MihomoManager(
    QString connectivityCheckURL, QStringList resourceDirectories, QString curlPath, QObject *parent)
    : QObject(parent)
    , m_connectivityCheckURL(connectivityCheckURL.isEmpty() ? ConfigCompiler::defaultConnectivityCheckURL()
                                                            : std::move(connectivityCheckURL))
    , m_resourceDirectories(
          resourceDirectories.isEmpty() ? defaultResourceDirectories() : std::move(resourceDirectories))
    , m_curlPath(std::move(curlPath))
    , m_controllerSecret(QUuid::createUuid().toString(QUuid::Id128).toLower())
{
    // The controller lives on loopback: never through a proxy from the environment, no
    // cookies, no redirects followed.
    m_session.setProxy(QNetworkProxy::NoProxy);
    m_session.setCookieJar(nullptr);
    m_session.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

MihomoManager::~MihomoManager()
{
    cancelTrafficStream();
    // Quitting runs stop() first; this only makes sure no kernel outlives its owner.
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(1000);
    }
}

bool MihomoManager::isRunning() const
{
    return m_process && m_process->state() != QProcess::NotRunning;
}

qint64 MihomoManager::processId() const
{
    return m_process ? m_process->processId() : 0;
}

QCoro::Task<> MihomoManager::ensureCore()
{
    auto job = [directories = m_resourceDirectories] { CoreInstaller::ensure(directories); };
    co_await m_executor.run(job);
}

QCoro::Task<> MihomoManager::start(ProviderSource source, AppSettings settings)
{
    co_await stop(false);
    // A stop() that arrives while this start is suspended wins: every resumption checks that
    // no stop has happened since, and nothing is launched or kept after one.
    const quint64 run = m_runGeneration;
    const auto stillWanted = [this, run] {
        if (run != m_runGeneration)
            throw startCancelled();
    };
    co_await ensureCore();
    stillWanted();

    const std::pair<const char *, qint64> ports[] = {
        { "混合代理端口 ", settings.mixedPort },
        { "SOCKS5端口 ", settings.socksPort },
        { "控制端口 ", settings.controllerPort },
    };
    for (const auto &[label, port] : ports) {
        if (!portIsFree(port))
            throw AppError(QString::fromUtf8(label) + QString::number(port) + QStringLiteral(" 已被其他程序占用。"));
    }

    const QString text = ConfigCompiler::compile(source, settings, m_controllerSecret, m_connectivityCheckURL);
    // The file holds the controller secret and the subscription address: it is created
    // owner-only from its first byte instead of being tightened after the write.
    AppPaths::writeFileAtomically(AppPaths::config(), text.toUtf8());

    co_await validateConfiguration();
    stillWanted();

    const QString logPath = mihomoLogPath();
    AppPaths::writeFileAtomically(logPath, QByteArray());

    auto process = std::make_unique<QProcess>();
    process->setProgram(AppPaths::core());
    process->setArguments(
        { QStringLiteral("-d"), AppPaths::coreDirectory(), QStringLiteral("-f"), AppPaths::config() });
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setStandardOutputFile(logPath, QIODevice::Append);
    process->setStandardInputFile(QProcess::nullDevice());
    // The kernel ends with the application: one that outlived a crash would hold the ports
    // (every later connect would fail) and keep serving the line to anyone on this computer.
    const pid_t application = ::getpid();
    process->setChildProcessModifier([application] {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != application) // the application ended before the line above
            ::_exit(1);
    });
    connect(process.get(), &QProcess::finished, this, [this](int exitCode, QProcess::ExitStatus) {
        Logger::shared().log(QStringLiteral("Mihomo 已退出，状态码 %1。").arg(exitCode));
        emit processEnded();
    });
    process->start();
    m_process = std::move(process);
    // Whatever goes wrong from here on, the child is ended before the error leaves. The
    // process is only ever reached through m_process: a stop() meanwhile may have ended it.
    std::exception_ptr failure;
    try {
        const bool started = co_await processStarted(m_process.get());
        stillWanted();
        if (!started)
            throw SystemError(m_process->errorString());
        co_await waitForController(settings.controllerPort);
        stillWanted();
        if (!isRunning())
            throw AppError(QStringLiteral("Mihomo 启动后立即退出，请查看诊断日志。"));
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        // After a stop the process is already dealt with, and what failed here (the controller
        // wait, say) only followed from it: the stop is what the caller hears about.
        if (run != m_runGeneration)
            throw startCancelled();
        co_await discardProcess();
        std::rethrow_exception(failure);
    }

    if (!settings.selectedNode.isEmpty()) {
        try {
            co_await selectNode(settings.selectedNode, settings);
        } catch (...) {
            // A node that no longer exists leaves the automatic choice in place.
        }
        stillWanted();
    }
}

QCoro::Task<> MihomoManager::discardProcess()
{
    if (!m_process)
        co_return;
    if (m_process->state() != QProcess::NotRunning) {
        // Asked to end like any stopped kernel; one that ignores the request is killed and
        // reaped, so that no kernel outlives a failed start unknown to the manager. The waits
        // are polled in place, as in stop(): awaiting a nested waiting coroutine here, on the
        // path of a caught failure, resumed an already finished coroutine (a crash, g++ 12).
        m_process->terminate();
        for (int i = 0; i < 250 && isRunning(); ++i)
            co_await QCoro::sleepFor(10ms);
        if (isRunning()) {
            m_process->kill();
            for (int i = 0; i < 40 && isRunning(); ++i)
                co_await QCoro::sleepFor(50ms);
        }
        // A child that survives SIGKILL stays recorded (the stuck state a later stop() retries):
        // destroying its QProcess would block the main thread waiting for it.
        if (isRunning())
            co_return;
    }
    m_process.reset();
}

QCoro::Task<> MihomoManager::validateConfiguration()
{
    QStringList arguments { QStringLiteral("-t"), QStringLiteral("-d"), AppPaths::coreDirectory(), QStringLiteral("-f"),
        AppPaths::config() };
    ChildProcessOptions options;
    options.timeout = validationTimeout;
    options.outputCap = maximumValidationOutput;
    const ChildProcessResult check = co_await runChildProcess(AppPaths::core(), arguments, options);
    if (check.succeeded())
        co_return;
    const QString output = QString::fromUtf8(check.standardOutput + check.standardError);
    throw AppError(QStringLiteral("线路配置未通过 Mihomo 检查：") + Logger::redact(output));
}

QCoro::Task<bool> MihomoManager::controllerAnswers(qint64 port)
{
    return controllerAcceptsConnections(port);
}

QCoro::Task<> MihomoManager::waitForController(qint64 port)
{
    // About ten seconds in all. A refused connection on loopback costs next to nothing, and the
    // kernel opens its controller some 30-50 ms after it starts, so the pauses are short: a
    // pause of 200 ms made every connect wait for the second attempt.
    const QDeadlineTimer deadline(10s);
    for (;;) {
        if (co_await controllerAnswers(port))
            co_return;
        if (!isRunning())
            throw AppError(QStringLiteral("Mihomo 控制端口启动超时。"));
        co_await QCoro::sleepFor(10ms);
        if (deadline.hasExpired())
            throw AppError(QStringLiteral("Mihomo 控制端口启动超时。"));
    }
}

void MihomoManager::cancelTrafficStream()
{
    if (m_trafficStream) {
        m_trafficStream->cancel();
        m_trafficStream->deleteLater();
    }
    m_trafficStream = nullptr;
}

QCoro::Task<> MihomoManager::stop(bool deleteRuntimeConfiguration)
{
    ++m_runGeneration;
    cancelTrafficStream();
    if (isRunning()) {
        // A kernel ends within milliseconds of SIGTERM: up to 2.5 s, looked at every 10 ms.
        m_process->terminate();
        for (int i = 0; i < 250 && isRunning(); ++i)
            co_await QCoro::sleepFor(10ms);
        if (isRunning()) {
            m_process->kill();
            for (int i = 0; i < 10 && isRunning(); ++i)
                co_await QCoro::sleepFor(50ms);
        }
        if (isRunning())
            throw AppError(QStringLiteral("Mihomo 核心无法停止。"));
    }
    m_process.reset();
    if (deleteRuntimeConfiguration)
        QFile::remove(AppPaths::config());
}

} // namespace veyra
