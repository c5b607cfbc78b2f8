#pragma once

#include "ProxyHelperServer.h"
#include "StandInState.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <nlohmann/json.hpp>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace veyra::test {

// The helper's own server, run on a thread of the test on a temporary socket, with the
// stand-in networksetup as its tool. Peer checks are exercised by the helper's tests; here
// every connection is let through and counted, one per request.
class HelperHarness {
public:
    HelperHarness();
    ~HelperHarness();

    QString socketPath() const { return m_dir.path() + QStringLiteral("/helper.sock"); }
    int requests() const { return m_requests.load(); }

    // A delayed helper: while held, every request waits before it is served, so a test can
    // start another workflow at a known point of the one whose request is waiting.
    void hold();
    void release();
    int waitingRequests();
    // Each connection passes here: counted, and held while the helper is.
    void admit();

    // The stand-in's state: services, failure rules and the history of changes.
    nlohmann::json state() const { return m_standIn.read(); }
    void setState(const nlohmann::json &state) const { m_standIn.write(state); }
    void setServices(const std::vector<nlohmann::json> &services) const;
    void failOn(const QString &verb, int status, const QString &standardError = {}, const QString &service = {}) const
    {
        m_standIn.failOn(verb.toStdString(), status, standardError.toStdString(), {}, service.toStdString());
    }
    void clearFailures() const;
    std::vector<std::vector<std::string>> history() const { return m_standIn.history(); }
    nlohmann::json service(const QString &name) const { return m_standIn.service(name.toStdString()); }

    // Runs the stand-in directly, as the user would change a setting by hand.
    void userRuns(const QStringList &arguments) const;

private:
    QTemporaryDir m_dir;
    helper::test::StandInState m_standIn { m_dir.path().toStdString() };
    std::atomic<int> m_requests { 0 };
    std::mutex m_mutex;
    std::condition_variable m_opened;
    bool m_held = false;
    int m_waiting = 0;
    std::unique_ptr<helper::ProxyHelperServer> m_server;
    std::thread m_thread;
};

} // namespace veyra::test
