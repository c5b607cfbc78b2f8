// Times SystemProxyManager.enable followed by restoreIfNeeded(force: false) for 2 and 8
// network services, against the stand-in networksetup and the helper's own server on a
// temporary socket, and the share of that time spent in the helper round trips; then the
// desktop backend's enable and restore (DesktopBench.cpp).
//
// The round-trip share is measured by sending the same two requests (apply, then restore)
// straight through PrivilegedProxyClient on the same state and dividing by the full time.
#include "AppPaths.h"
#include "BenchSupport.h"
#include "NetworkSetupProxyBackend.h"
#include "PeerAuthorizer.h"
#include "PrivilegedProxyClient.h"
#include "ProxyHelperServer.h"
#include "SystemProxyManager.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>

using namespace veyra;
using bench::median;
using bench::wait;

namespace {

// Peer checks are not what is measured here, and the benchmark runs as whoever starts it.
class LetEveryoneIn : public helper::PeerAuthorizer {
public:
    bool authorize(int) override { return true; }
    bool stillAuthorized(int) override { return true; }
};

nlohmann::json service(int index)
{
    const nlohmann::json off = { { "enabled", false }, { "server", "" }, { "port", 0 } };
    return { { "name", "Service " + std::to_string(index) }, { "enabled", true },
        { "ipAddress", "10.2.0." + std::to_string(index + 1) },
        { "web", { { "enabled", true }, { "server", "proxy.lan" }, { "port", 3128 } } }, { "secureWeb", off },
        { "socks", off }, { "bypassDomains", { "*.corp" } }, { "autoProxyURL", "" }, { "autoProxyEnabled", false },
        { "autoDiscoveryEnabled", false } };
}

void writeState(const QString &path, int services)
{
    nlohmann::json list = nlohmann::json::array();
    for (int i = 0; i < services; ++i)
        list.push_back(service(i));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(QByteArray::fromStdString(nlohmann::json { { "services", list }, { "failures", nlohmann::json::array() },
        { "history",
            nlohmann::json::array() } }.dump()));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString statePath = dir.path() + QStringLiteral("/state.json");
    const QString socketPath = dir.path() + QStringLiteral("/helper.sock");
    ::setenv("VEYRA_NETWORKSETUP_STATE", statePath.toLocal8Bit().constData(), 1);
    AppPaths::setRootOverride(dir.path() + QStringLiteral("/data"));

    // The helper gives its tool a fixed environment, so the state file is named there as well.
    std::vector<std::string> toolEnvironment = helper::minimalToolEnvironment();
    toolEnvironment.push_back("VEYRA_NETWORKSETUP_STATE=" + statePath.toStdString());
    helper::ProxyHelperServer server(helper::bindListeningSocket(socketPath.toStdString()),
        helper::ProxyHelperService(
            VEYRA_NETWORKSETUP_EXECUTABLE, (dir.path() + QStringLiteral("/record/settings.json")).toStdString(), toolEnvironment), std::make_unique<LetEveryoneIn>());
    std::thread serving([&] { server.serve(); });

    constexpr int rounds = 7;
    std::printf("services  enable+restore median (ms)  helper round trips median (ms)  share\n");
    for (int services : { 2, 8 }) {
        std::vector<double> totals;
        std::vector<double> roundTrips;
        for (int round = 0; round < rounds; ++round) {
            writeState(statePath, services);
            SystemProxyManager manager(
                QStringLiteral(VEYRA_NETWORKSETUP_EXECUTABLE), std::make_unique<PrivilegedProxyClient>(socketPath));
            QElapsedTimer clock;
            clock.start();
            wait(manager.enable(7890));
            wait(manager.restoreIfNeeded(false));
            totals.push_back(clock.nsecsElapsed() / 1e6);

            // The same two requests alone, from the same starting state.
            writeState(statePath, services);
            ipc::CommandList apply;
            ipc::CommandList restore;
            for (int i = 0; i < services; ++i) {
                const QString name = QStringLiteral("Service %1").arg(i);
                auto lines = NetworkSetupProxyBackend::applyCommands(name, 7890);
                apply.insert(apply.end(), lines.begin(), lines.end());
                NetworkServiceProxySnapshot saved;
                saved.service = name;
                saved.web = { true, QStringLiteral("proxy.lan"), 3128 };
                saved.bypassDomains = { QStringLiteral("*.corp") };
                lines = NetworkSetupProxyBackend::restoreCommands(saved);
                restore.insert(restore.end(), lines.begin(), lines.end());
            }
            PrivilegedProxyClient client(socketPath);
            clock.restart();
            wait(client.execute(apply));
            wait(client.execute(restore));
            roundTrips.push_back(clock.nsecsElapsed() / 1e6);
        }
        const double total = median(totals);
        const double trips = median(roundTrips);
        std::printf("%8d  %27.1f  %30.1f  %4.0f %%\n", services, total, trips, 100.0 * trips / total);
    }
    server.stop();
    serving.join();
    bench::benchDesktopBackend();
    return 0;
}
