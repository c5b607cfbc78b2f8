#include "SysproxyTestSupport.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <cstdlib>

namespace veyra::test {

namespace {

class CountingAuthorizer : public helper::PeerAuthorizer {
public:
    CountingAuthorizer(std::atomic<int> &count, HelperHarness::Gate &gate)
        : m_count(count)
        , m_gate(gate)
    {
    }
    bool authorize(int) override
    {
        ++m_count;
        std::unique_lock lock(m_gate.mutex);
        ++m_gate.waiting;
        m_gate.opened.wait(lock, [this] { return !m_gate.held; });
        --m_gate.waiting;
        return true;
    }
    bool stillAuthorized(int) override { return true; }

private:
    std::atomic<int> &m_count;
    HelperHarness::Gate &m_gate;
};

} // namespace

HelperHarness::HelperHarness()
{
    ::setenv("VEYRA_NETWORKSETUP_STATE", statePath().toLocal8Bit().constData(), 1);
    setServices({ serviceRecord(QStringLiteral("Wi-Fi"), QStringLiteral("192.168.1.20")),
        serviceRecord(QStringLiteral("Ethernet"), QStringLiteral("10.0.0.5")) });
    // The helper gives its tool a fixed environment, so the state file is named there as well.
    std::vector<std::string> toolEnvironment = helper::minimalToolEnvironment();
    toolEnvironment.push_back("VEYRA_NETWORKSETUP_STATE=" + statePath().toStdString());
    m_server = std::make_unique<helper::ProxyHelperServer>(helper::bindListeningSocket(socketPath().toStdString()),
        helper::ProxyHelperService(VEYRA_NETWORKSETUP_EXECUTABLE,
            statePath().toStdString() + ".helper-record/settings.json", toolEnvironment),
        std::make_unique<CountingAuthorizer>(m_requests, m_gate));
    m_thread = std::thread([this] { m_server->serve(); });
}

void HelperHarness::hold()
{
    std::lock_guard lock(m_gate.mutex);
    m_gate.held = true;
}

void HelperHarness::release()
{
    {
        std::lock_guard lock(m_gate.mutex);
        m_gate.held = false;
    }
    m_gate.opened.notify_all();
}

int HelperHarness::waitingRequests()
{
    std::lock_guard lock(m_gate.mutex);
    return m_gate.waiting;
}

HelperHarness::~HelperHarness()
{
    release();
    m_server->stop();
    m_thread.join();
}

nlohmann::json HelperHarness::state() const
{
    QFile file(statePath());
    if (!file.open(QIODevice::ReadOnly))
        return nullptr;
    return nlohmann::json::parse(file.readAll().toStdString());
}

void HelperHarness::setState(const nlohmann::json &state) const
{
    QFile file(statePath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QByteArray::fromStdString(state.dump(2)));
}

void HelperHarness::setServices(const std::vector<nlohmann::json> &services) const
{
    setState(
        { { "services", services }, { "failures", nlohmann::json::array() }, { "history", nlohmann::json::array() } });
}

void HelperHarness::failOn(const QString &verb, int status, const QString &standardError, const QString &service) const
{
    nlohmann::json current = state();
    nlohmann::json rule
        = { { "verb", verb.toStdString() }, { "status", status }, { "stderr", standardError.toStdString() } };
    if (!service.isEmpty())
        rule["service"] = service.toStdString();
    current["failures"].push_back(rule);
    setState(current);
}

void HelperHarness::clearFailures() const
{
    nlohmann::json current = state();
    current["failures"] = nlohmann::json::array();
    setState(current);
}

std::vector<std::vector<std::string>> HelperHarness::history() const
{
    return state()["history"].get<std::vector<std::vector<std::string>>>();
}

nlohmann::json HelperHarness::service(const QString &name) const
{
    const nlohmann::json current = state();
    for (const auto &entry : current["services"])
        if (entry["name"] == name.toStdString())
            return entry;
    return nullptr;
}

void HelperHarness::userRuns(const QStringList &arguments) const
{
    QProcess process;
    process.start(QStringLiteral(VEYRA_NETWORKSETUP_EXECUTABLE), arguments);
    ASSERT_TRUE(process.waitForFinished(10'000));
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
}

nlohmann::json HelperHarness::serviceRecord(const QString &name, const QString &address, bool enabled)
{
    const nlohmann::json off = { { "enabled", false }, { "server", "" }, { "port", 0 } };
    return { { "name", name.toStdString() }, { "enabled", enabled }, { "ipAddress", address.toStdString() },
        { "web", off }, { "secureWeb", off }, { "socks", off }, { "bypassDomains", nlohmann::json::array() },
        { "autoProxyURL", "" }, { "autoProxyEnabled", false }, { "autoDiscoveryEnabled", false } };
}

} // namespace veyra::test
