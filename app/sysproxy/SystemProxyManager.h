#pragma once

#include "PrivilegedProxyClient.h"
#include "SystemProxyBackend.h"

#include <QCoroTask>
#include <QString>

#include <memory>

namespace veyra {

// The application's one handle on the system proxy settings. Which settings those are depends
// on the machine, so the work is done by a backend chosen once, at creation.
class SystemProxyManager {
public:
    // networksetup where the tool is installed at its fixed path (a machine managed that way),
    // the desktop's own proxy settings everywhere else.
    static std::unique_ptr<SystemProxyManager> forThisSystem();

    // The networksetup backend with the given tool for reads (a seam for tests and sandboxes).
    SystemProxyManager(QString networkSetupPath, std::unique_ptr<PrivilegedProxyClient> client);
    explicit SystemProxyManager(std::unique_ptr<SystemProxyBackend> backend);

    QCoro::Task<void> enable(qint64 port) { return m_backend->enable(port); }
    QCoro::Task<void> enable(qint64 port, QCoro::Task<void> lineChecked)
    {
        return m_backend->enable(port, std::move(lineChecked));
    }
    QCoro::Task<void> restoreIfNeeded(bool force) { return m_backend->restoreIfNeeded(force); }
    QCoro::Task<bool> recoverStaleProxy() { return m_backend->recoverStaleProxy(); }
    QCoro::Task<bool> stillApplied() { return m_backend->stillApplied(); }

    static QString defaultNetworkSetupPath();

private:
    std::unique_ptr<SystemProxyBackend> m_backend;
};

} // namespace veyra
