#include "SysproxyTestSupport.h"

#include "PeerAuthorizer.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <cstdlib>

namespace veyra::test {

namespace {

struct AdmittingAuthorizer : helper::PeerAuthorizer {
    explicit AdmittingAuthorizer(HelperHarness &harness)
        : harness(harness)
    {
    }
    bool authorize(int) override
    {
        harness.admit();
        return true;
    }
    bool stillAuthorized(int) override { return true; }
    HelperHarness &harness;
};

} // namespace

HelperHarness::HelperHarness()
{
    ::setenv("VEYRA_NETWORKSETUP_STATE", m_standIn.path().c_str(), 1);
    m_server = std::make_unique<helper::ProxyHelperServer>(helper::bindListeningSocket(socketPath().toStdString()),
        helper::ProxyHelperService(VEYRA_NETWORKSETUP_EXECUTABLE, m_standIn.recordFile(), m_standIn.toolEnvironment()),
        std::make_unique<AdmittingAuthorizer>(*this));
    m_thread = std::thread([this] { m_server->serve(); });
}

HelperHarness::~HelperHarness()
{
    release();
    m_server->stop();
    m_thread.join();
}

void HelperHarness::admit()
{
    ++m_requests;
    std::unique_lock lock(m_mutex);
    ++m_waiting;
    m_opened.wait(lock, [this] { return !m_held; });
    --m_waiting;
}

void HelperHarness::hold()
{
    std::lock_guard lock(m_mutex);
    m_held = true;
}

void HelperHarness::release()
{
    {
        std::lock_guard lock(m_mutex);
        m_held = false;
    }
    m_opened.notify_all();
}

int HelperHarness::waitingRequests()
{
    std::lock_guard lock(m_mutex);
    return m_waiting;
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
