#include "SysproxyTestSupport.h"

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
    m_server = std::make_unique<helper::ProxyHelperServer>(helper::bindListeningSocket(socketPath().toStdString()),
        helper::ProxyHelperService(VEYRA_NETWORKSETUP_EXECUTABLE, m_standIn.recordFile(), m_standIn.toolEnvironment()),
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

void HelperHarness::setServices(const std::vector<nlohmann::json> &services) const
{
    setState(
        { { "services", services }, { "failures", nlohmann::json::array() }, { "history", nlohmann::json::array() } });
}

void HelperHarness::clearFailures() const
{
    nlohmann::json current = state();
    current["failures"] = nlohmann::json::array();
    setState(current);
}

void HelperHarness::userRuns(const QStringList &arguments) const
{
    QProcess process;
    process.start(QStringLiteral(VEYRA_NETWORKSETUP_EXECUTABLE), arguments);
    ASSERT_TRUE(process.waitForFinished(10'000));
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
}

} // namespace veyra::test
