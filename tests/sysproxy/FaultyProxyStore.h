#pragma once

#include "DesktopProxyBackend.h"
#include "ProxySettingsStore.h"

#include <memory>
#include <stdexcept>

namespace veyra::test {

// Faults put between the desktop backend and the real stores, shared by every store of one
// backend so that a count runs across them.
struct StoreFaults {
    // After this many entries have been written the process "dies": that write and every later
    // one (the roll-back's included) throw, so what is on disk is what a crash there would leave.
    int writesBeforeCrash = -1;
    // Entries for this key are dropped while the write still succeeds: a store that says yes
    // and keeps the old value.
    QString ignoredKey;
};

class FaultyProxyStore : public ProxySettingsStore {
public:
    FaultyProxyStore(std::unique_ptr<ProxySettingsStore> inner, std::shared_ptr<StoreFaults> faults)
        : m_inner(std::move(inner))
        , m_faults(std::move(faults))
    {
    }

    QString name() const override { return m_inner->name(); }
    bool present() override { return m_inner->present(); }
    std::vector<Entry> proxyEntries(qint64 port) const override { return m_inner->proxyEntries(port); }
    Value read(const QString &key) override { return m_inner->read(key); }
    void write(const std::vector<Entry> &entries) override
    {
        std::vector<Entry> passed;
        bool crashed = false;
        for (const Entry &entry : entries) {
            if (m_faults->writesBeforeCrash == 0) {
                crashed = true;
                break;
            }
            if (m_faults->writesBeforeCrash > 0)
                --m_faults->writesBeforeCrash;
            if (entry.key != m_faults->ignoredKey)
                passed.push_back(entry);
        }
        if (!passed.empty())
            m_inner->write(passed);
        if (crashed)
            throw std::runtime_error("the application ended here");
    }

    // The product's stores, each behind the same faults.
    static DesktopProxyBackend::StoreFactory around(std::shared_ptr<StoreFaults> faults)
    {
        return [faults] {
            DesktopProxyBackend::Stores wrapped;
            for (auto &store : DesktopProxyBackend::desktopStores())
                wrapped.push_back(std::make_unique<FaultyProxyStore>(std::move(store), faults));
            return wrapped;
        };
    }

private:
    std::unique_ptr<ProxySettingsStore> m_inner;
    std::shared_ptr<StoreFaults> m_faults;
};

} // namespace veyra::test
