#include "NetworkSetupProxyBackend.h"

#include "AppPaths.h"
#include "ChildProcess.h"
#include "Errors.h"
#include "Logger.h"
#include "NetworkSetupOutput.h"
#include "Settled.h"

#include "veyra/ipc/ProxyHelperConstants.h"

#include <algorithm>

namespace veyra {

namespace {

const std::string tool(ipc::ProxyHelperConstants::networkSetupPath);

ipc::CommandLine line(std::initializer_list<QString> parts)
{
    ipc::CommandLine result { tool };
    for (const QString &part : parts)
        result.push_back(part.toStdString());
    return result;
}

QString onOff(bool value)
{
    return value ? QStringLiteral("on") : QStringLiteral("off");
}

// Arguments for a read verb. Built outside co_await expressions: GCC 12 cannot compile
// braced initializer lists inside coroutine suspension expressions.
QStringList readArguments(const char *verb, const QString &service = QString())
{
    QStringList arguments { QString::fromLatin1(verb) };
    if (!service.isNull())
        arguments.append(service);
    return arguments;
}

bool pointsAtUs(const ProxyEndpointState &endpoint, qint64 port)
{
    const QString server = endpoint.server.toLower();
    return endpoint.enabled && (server == u"127.0.0.1" || server == u"localhost" || server == u"::1")
        && endpoint.port == port;
}

bool confirmed(const NetworkServiceProxySnapshot &service, qint64 port)
{
    for (const ProxyEndpointState *endpoint : { &service.web, &service.secureWeb, &service.socks })
        if (!endpoint->enabled || endpoint->server != u"127.0.0.1" || endpoint->port != port)
            return false;
    return true;
}

bool allConfirmed(const std::vector<NetworkServiceProxySnapshot> &services, qint64 port)
{
    return std::all_of(
        services.begin(), services.end(), [port](const auto &service) { return confirmed(service, port); });
}

void appendEndpoint(
    ipc::CommandList &commands, const ProxyEndpointState &saved, const QString &kind, const QString &service)
{
    if (!saved.server.isEmpty() && saved.port > 0)
        commands.push_back(line({ QStringLiteral("-set") + kind, service, saved.server, QString::number(saved.port) }));
    commands.push_back(
        line({ QStringLiteral("-set") + kind + QStringLiteral("state"), service, onOff(saved.enabled) }));
}

} // namespace

NetworkSetupProxyBackend::NetworkSetupProxyBackend(
    QString networkSetupPath, std::unique_ptr<PrivilegedProxyClient> client)
    : m_networkSetup(std::move(networkSetupPath))
    , m_client(client ? std::move(client) : std::make_unique<PrivilegedProxyClient>())
{
}

NetworkSetupProxyBackend::~NetworkSetupProxyBackend() = default;

QString NetworkSetupProxyBackend::defaultNetworkSetupPath()
{
    return QString::fromUtf8(
        ipc::ProxyHelperConstants::networkSetupPath.data(), ipc::ProxyHelperConstants::networkSetupPath.size());
}

std::optional<ProxySnapshot> NetworkSetupProxyBackend::readSnapshot()
{
    return AppPaths::read<ProxySnapshot>(AppPaths::proxyBackup(), AppPaths::proxyBackupCap);
}

QCoro::Task<QString> NetworkSetupProxyBackend::run(QString program, QStringList arguments)
{
    ChildProcessOptions options;
    options.timeout = toolTimeout;
    const ChildProcessResult result = co_await runChildProcess(program, arguments, options);
    // A tool that hangs tells nothing about the settings: like a launch failure it is the
    // platform's problem, never a statement that a service is gone.
    if (result.timedOut)
        throw SystemError(QStringLiteral("%1: Process operation timed out").arg(program));
    const QString output = QString::fromUtf8(result.standardOutput);
    if (result.succeeded())
        co_return output;
    const QString errors = QString::fromUtf8(result.standardError).trimmed();
    const QString detail = errors.isEmpty() ? output.trimmed() : errors;
    throw AppError(QStringLiteral("系统网络设置失败：") + Logger::redact(detail));
}

QCoro::Task<NetworkServiceProxySnapshot> NetworkSetupProxyBackend::capture(QString service, CaptureScope scope)
{
    // The reads are independent: they run side by side, each a process of its own, and a
    // failure is passed on (the first in this order) once all have ended.
    std::vector<const char *> verbs { "-getwebproxy", "-getsecurewebproxy", "-getsocksfirewallproxy" };
    if (scope == CaptureScope::everything)
        verbs.insert(verbs.end(), { "-getproxybypassdomains", "-getautoproxyurl", "-getproxyautodiscovery" });
    std::vector<QCoro::Task<Settled<QString>>> reads;
    for (const char *verb : verbs)
        reads.push_back(settle(run(m_networkSetup, readArguments(verb, service))));
    std::vector<Settled<QString>> outputs = co_await settleAll(std::move(reads));

    NetworkServiceProxySnapshot snapshot;
    snapshot.service = service;
    snapshot.web = NetworkSetupOutput::endpoint(outputs[0].take());
    snapshot.secureWeb = NetworkSetupOutput::endpoint(outputs[1].take());
    snapshot.socks = NetworkSetupOutput::endpoint(outputs[2].take());
    if (scope == CaptureScope::proxies)
        co_return snapshot;
    snapshot.bypassDomains = NetworkSetupOutput::bypassDomains(outputs[3].take());
    const auto autoProxy = NetworkSetupOutput::dictionary(outputs[4].take());
    snapshot.autoProxyURL = autoProxy.value(QStringLiteral("url"));
    snapshot.autoProxyEnabled = NetworkSetupOutput::isEnabled(autoProxy);
    snapshot.autoDiscoveryEnabled = NetworkSetupOutput::autoDiscoveryEnabled(outputs[5].take());
    co_return snapshot;
}

QCoro::Task<std::vector<NetworkServiceProxySnapshot>> NetworkSetupProxyBackend::captureAll(
    QStringList services, CaptureScope scope)
{
    std::vector<QCoro::Task<Settled<NetworkServiceProxySnapshot>>> captures;
    for (const QString &service : services)
        captures.push_back(settle(capture(service, scope)));
    std::vector<Settled<NetworkServiceProxySnapshot>> outcomes = co_await settleAll(std::move(captures));
    std::vector<NetworkServiceProxySnapshot> snapshots;
    for (Settled<NetworkServiceProxySnapshot> &outcome : outcomes)
        snapshots.push_back(outcome.take());
    co_return snapshots;
}

QCoro::Task<QStringList> NetworkSetupProxyBackend::activeNetworkServices()
{
    const QStringList listed
        = NetworkSetupOutput::listedServices(co_await run(m_networkSetup, readArguments("-listallnetworkservices")));
    std::vector<QCoro::Task<Settled<QString>>> reads;
    for (const QString &service : listed)
        reads.push_back(settle(run(m_networkSetup, readArguments("-getinfo", service))));
    std::vector<Settled<QString>> infos = co_await settleAll(std::move(reads));
    QStringList active;
    for (qsizetype i = 0; i < listed.size(); ++i) {
        // A service that cannot describe itself is not one we can point anywhere.
        if (!infos[i].failure && NetworkSetupOutput::hasAddress(*infos[i].value))
            active.append(listed[i]);
    }
    co_return active;
}

QCoro::Task<NetworkSetupProxyBackend::Survey> NetworkSetupProxyBackend::surveyServices()
{
    Survey survey;
    survey.services = co_await activeNetworkServices();
    if (survey.services.isEmpty())
        throw AppError(QStringLiteral("没有检测到正在联网的 Wi‑Fi 或以太网服务。"));
    survey.settings = co_await captureAll(survey.services);
    co_return survey;
}

ipc::CommandList NetworkSetupProxyBackend::applyCommands(const QString &service, qint64 port)
{
    const QString p = QString::number(port);
    const QString local = QStringLiteral("127.0.0.1");
    return {
        line({ QStringLiteral("-setautoproxystate"), service, QStringLiteral("off") }),
        line({ QStringLiteral("-setproxyautodiscovery"), service, QStringLiteral("off") }),
        line({ QStringLiteral("-setwebproxy"), service, local, p }),
        line({ QStringLiteral("-setsecurewebproxy"), service, local, p }),
        line({ QStringLiteral("-setsocksfirewallproxy"), service, local, p }),
        line({ QStringLiteral("-setproxybypassdomains"), service, QStringLiteral("localhost"), local,
            QStringLiteral("::1"), QStringLiteral("*.local"), QStringLiteral("169.254/16") }),
        line({ QStringLiteral("-setwebproxystate"), service, QStringLiteral("on") }),
        line({ QStringLiteral("-setsecurewebproxystate"), service, QStringLiteral("on") }),
        line({ QStringLiteral("-setsocksfirewallproxystate"), service, QStringLiteral("on") }),
    };
}

ipc::CommandList NetworkSetupProxyBackend::restoreCommands(const NetworkServiceProxySnapshot &saved)
{
    ipc::CommandList commands;
    appendEndpoint(commands, saved.web, QStringLiteral("webproxy"), saved.service);
    appendEndpoint(commands, saved.secureWeb, QStringLiteral("securewebproxy"), saved.service);
    appendEndpoint(commands, saved.socks, QStringLiteral("socksfirewallproxy"), saved.service);
    ipc::CommandLine bypass = line({ QStringLiteral("-setproxybypassdomains"), saved.service });
    if (saved.bypassDomains.isEmpty())
        bypass.push_back("Empty");
    for (const QString &domain : saved.bypassDomains)
        bypass.push_back(domain.toStdString());
    commands.push_back(std::move(bypass));
    if (!saved.autoProxyURL.isEmpty())
        commands.push_back(line({ QStringLiteral("-setautoproxyurl"), saved.service, saved.autoProxyURL }));
    commands.push_back(line({ QStringLiteral("-setautoproxystate"), saved.service, onOff(saved.autoProxyEnabled) }));
    commands.push_back(
        line({ QStringLiteral("-setproxyautodiscovery"), saved.service, onOff(saved.autoDiscoveryEnabled) }));
    return commands;
}

AppError NetworkSetupProxyBackend::helperUnavailable(const std::exception &cause)
{
    return AppError(QString::fromUtf8(helperUnavailablePrefix) + u'\n' + describe(cause));
}

QCoro::Task<void> NetworkSetupProxyBackend::runPrivileged(ipc::CommandList commands)
{
    try {
        co_await m_client->execute(std::move(commands));
    } catch (const std::exception &error) {
        throw helperUnavailable(error);
    }
}

ipc::CommandList NetworkSetupProxyBackend::restoreCommands(const std::vector<NetworkServiceProxySnapshot> &services)
{
    ipc::CommandList commands;
    for (const NetworkServiceProxySnapshot &saved : services) {
        ipc::CommandList lines = restoreCommands(saved);
        commands.insert(commands.end(), lines.begin(), lines.end());
    }
    return commands;
}

ipc::CommandList NetworkSetupProxyBackend::switchOffCommands(const std::vector<NetworkServiceProxySnapshot> &services)
{
    ipc::CommandList commands;
    for (const NetworkServiceProxySnapshot &saved : services) {
        commands.push_back(line({ QStringLiteral("-setwebproxystate"), saved.service, QStringLiteral("off") }));
        commands.push_back(line({ QStringLiteral("-setsecurewebproxystate"), saved.service, QStringLiteral("off") }));
        commands.push_back(
            line({ QStringLiteral("-setsocksfirewallproxystate"), saved.service, QStringLiteral("off") }));
    }
    return commands;
}

QCoro::Task<void> NetworkSetupProxyBackend::restore(
    ProxySnapshot snapshot, std::vector<NetworkServiceProxySnapshot> services)
{
    Q_UNUSED(snapshot);
    std::exception_ptr failure;
    try {
        co_await m_client->execute(restoreCommands(services));
        AppPaths::removeIfExists(AppPaths::proxyBackup());
        co_return;
    } catch (const PrivilegedProxyClient::Refused &) {
        // The helper is there and working: its own sentence says what it refused, without
        // advice to reinstall it.
        failure = std::current_exception();
    } catch (const std::exception &error) {
        // Anything else may pass on a later try: the settings and the journal stay as they are.
        throw helperUnavailable(error);
    }
    // The helper will not put back servers it holds no record of (its record was lost, or the
    // journal names others), and it never will. Switching the proxies off is always accepted, so
    // the machine is not left pointing at a port that is about to close. The journal stays and
    // the refusal is reported.
    try {
        co_await runPrivileged(switchOffCommands(services));
        Logger::shared().log(QStringLiteral("未能恢复原有代理设置，已关闭本应用设置的代理。"));
    } catch (const std::exception &) {
        // Neither got through (the helper is not there at all): the first failure says why.
    }
    std::rethrow_exception(failure);
}

QCoro::Task<void> NetworkSetupProxyBackend::rollBack(const ProxySnapshot &snapshot)
{
    try {
        co_await restore(snapshot, snapshot.services);
    } catch (const std::exception &) {
        // The snapshot stays behind, so repair or the next start can still restore it; the
        // caller reports the failure that made the roll-back necessary.
    }
}

QCoro::Task<void> NetworkSetupProxyBackend::enable(qint64 port, QCoro::Task<void> lineChecked)
{
    AppPaths::prepare();
    // The services and their settings are read while the line is still being checked; the
    // check's failure is the one that counts, and nothing is written before it has passed.
    Settled<Survey> survey = co_await settle(surveyServices());
    co_await std::move(lineChecked);
    if (readSnapshot())
        throw AppError(QStringLiteral("检测到尚未恢复的代理快照，请先执行“修复网络设置”。"));
    Survey found = survey.take();
    const QStringList &services = found.services;
    ProxySnapshot snapshot;
    snapshot.appliedPort = port;
    snapshot.services = std::move(found.settings);

    ipc::CommandList commands;
    for (const QString &service : services) {
        ipc::CommandList lines = applyCommands(service, port);
        commands.insert(commands.end(), lines.begin(), lines.end());
    }
    // Both the change and its undo must get past the client's checks, or nothing is touched:
    // a change the client refuses was never sent, so there is nothing to roll back and no
    // journal to leave behind; and a saved state the client would refuse to send back (too
    // many services, a bypass list too long for one command line) could never be restored.
    try {
        PrivilegedProxyClient::encodeRequest(commands);
    } catch (const std::exception &error) {
        throw helperUnavailable(error);
    }
    // An undo that cannot be sent is no fault of the helper's installation: the user sees
    // which rule it broke, not advice to reinstall.
    try {
        PrivilegedProxyClient::encodeRequest(restoreCommands(snapshot.services));
    } catch (const std::exception &error) {
        throw AppError(describe(error));
    }
    AppPaths::write(snapshot.toJson(), AppPaths::proxyBackup());

    std::exception_ptr failure = co_await failureOf(runPrivileged(std::move(commands)));
    if (!failure) {
        try {
            const std::vector<NetworkServiceProxySnapshot> now = co_await captureAll(services, CaptureScope::proxies);
            if (!allConfirmed(now, port))
                throw AppError(QStringLiteral("系统没有确认全部代理设置。"));
        } catch (...) {
            failure = std::current_exception();
        }
    }
    if (failure) {
        co_await rollBack(snapshot);
        std::rethrow_exception(failure);
    }
}

QCoro::Task<std::vector<NetworkServiceProxySnapshot>> NetworkSetupProxyBackend::managedServices(ProxySnapshot snapshot)
{
    std::vector<QCoro::Task<Settled<NetworkServiceProxySnapshot>>> captures;
    for (const NetworkServiceProxySnapshot &saved : snapshot.services)
        captures.push_back(settle(capture(saved.service, CaptureScope::proxies)));
    std::vector<Settled<NetworkServiceProxySnapshot>> outcomes = co_await settleAll(std::move(captures));
    std::vector<NetworkServiceProxySnapshot> kept;
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        const NetworkServiceProxySnapshot &saved = snapshot.services[i];
        NetworkServiceProxySnapshot current;
        try {
            current = outcomes[i].take();
        } catch (const AppError &) {
            // The tool answered but could not describe the service (it is gone, say): not ours.
            // A tool that could not be run at all propagates, and the snapshot is kept for a
            // later attempt instead of being dropped as if nothing were ours.
            continue;
        }
        if (pointsAtUs(current.web, snapshot.appliedPort) || pointsAtUs(current.secureWeb, snapshot.appliedPort)
            || pointsAtUs(current.socks, snapshot.appliedPort))
            kept.push_back(saved);
    }
    co_return kept;
}

QCoro::Task<void> NetworkSetupProxyBackend::restoreIfNeeded(bool force)
{
    std::optional<ProxySnapshot> snapshot = readSnapshot();
    if (!snapshot)
        co_return;
    // No co_await inside a conditional expression: GCC 12 destroys its temporaries twice.
    std::vector<NetworkServiceProxySnapshot> services;
    if (force)
        services = snapshot->services;
    else
        services = co_await managedServices(*snapshot);
    if (services.empty())
        AppPaths::removeIfExists(AppPaths::proxyBackup());
    else
        co_await restore(*snapshot, std::move(services));
}

QCoro::Task<bool> NetworkSetupProxyBackend::recoverStaleProxy()
{
    std::optional<ProxySnapshot> snapshot = readSnapshot();
    if (!snapshot)
        co_return false;
    std::vector<NetworkServiceProxySnapshot> services = co_await managedServices(*snapshot);
    if (services.empty()) {
        AppPaths::removeIfExists(AppPaths::proxyBackup());
        Logger::shared().log(QStringLiteral("发现旧代理快照，但当前设置已被用户修改，因此没有覆盖。"));
        co_return false;
    }
    co_await restore(*snapshot, std::move(services));
    Logger::shared().log(QStringLiteral("检测到上次异常退出，已恢复仍由本应用管理的系统代理。"));
    co_return true;
}

QCoro::Task<bool> NetworkSetupProxyBackend::stillApplied()
{
    const std::optional<ProxySnapshot> snapshot = readSnapshot();
    if (!snapshot)
        co_return false;
    QStringList services;
    for (const NetworkServiceProxySnapshot &saved : snapshot->services)
        services.append(saved.service);
    const std::vector<NetworkServiceProxySnapshot> current = co_await captureAll(services, CaptureScope::proxies);
    co_return allConfirmed(current, snapshot->appliedPort);
}

} // namespace veyra
