#pragma once

#include "PeerAuthorizer.h"
#include "ProxyHelperServer.h"

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
    QString statePath() const { return m_dir.path() + QStringLiteral("/state.json"); }
    int requests() const { return m_requests.load(); }

    // A delayed helper: while held, every request waits before it is served, so a test can
    // start another workflow at a known point of the one whose request is waiting.
    struct Gate {
        std::mutex mutex;
        std::condition_variable opened;
        bool held = false;
        int waiting = 0;
    };
    void hold();
    void release();
    int waitingRequests();

    // The stand-in's state: services, failure rules and the history of changes.
    nlohmann::json state() const;
    void setState(const nlohmann::json &state) const;
    void setServices(const std::vector<nlohmann::json> &services) const;
    void failOn(const QString &verb, int status, const QString &standardError = {}, const QString &service = {}) const;
    void clearFailures() const;
    std::vector<std::vector<std::string>> history() const;
    nlohmann::json service(const QString &name) const;

    // Runs the stand-in directly, as the user would change a setting by hand.
    void userRuns(const QStringList &arguments) const;

    static nlohmann::json serviceRecord(const QString &name, const QString &address, bool enabled = true);

private:
    QTemporaryDir m_dir;
    std::atomic<int> m_requests { 0 };
    Gate m_gate;
    std::unique_ptr<helper::ProxyHelperServer> m_server;
    std::thread m_thread;
};

} // namespace veyra::test
