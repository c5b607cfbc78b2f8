#pragma once

#include "ProxySettingsStore.h"
#include "SerialExecutor.h"
#include "SystemProxyBackend.h"

#include <functional>
#include <memory>
#include <vector>

namespace veyra {

// The proxy settings of a Linux desktop, changed as the user, in this process: GNOME's
// GSettings and KDE's kioslaverc, every one that is present. The journal, read-back and
// restore rules are ProxyKeyRules'; this class runs them on its own thread, because the
// settings daemon is waited for.
class DesktopProxyBackend : public SystemProxyBackend {
public:
    using Stores = std::vector<std::unique_ptr<ProxySettingsStore>>;
    // Creates the stores an operation works on. It is called on the backend's thread at the
    // start of every operation and the stores are dropped at its end, so nothing of GIO is
    // ever shared between threads. A seam for tests.
    using StoreFactory = std::function<Stores()>;

    explicit DesktopProxyBackend(StoreFactory stores = desktopStores);

    using SystemProxyBackend::enable;
    QCoro::Task<void> enable(qint64 port, QCoro::Task<void> lineChecked) override;
    QCoro::Task<void> restoreIfNeeded(bool force) override;
    QCoro::Task<bool> recoverStaleProxy() override;
    QCoro::Task<bool> stillApplied() override;

    static Stores desktopStores();

private:
    StoreFactory m_stores;
    SerialExecutor m_executor;
};

} // namespace veyra
