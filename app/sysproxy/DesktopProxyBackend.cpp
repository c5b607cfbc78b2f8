#include "DesktopProxyBackend.h"

#include "AppPaths.h"
#include "GSettingsProxyStore.h"
#include "KioslavercProxyStore.h"
#include "ProxyKeyRules.h"

namespace veyra {

namespace {

// Runs one operation of the rules over freshly made stores.
template <typename Operation> auto withRules(const DesktopProxyBackend::StoreFactory &factory, Operation operation)
{
    const DesktopProxyBackend::Stores stores = factory();
    std::vector<ProxySettingsStore *> pointers;
    for (const auto &store : stores)
        pointers.push_back(store.get());
    ProxyKeyRules rules(std::move(pointers), AppPaths::desktopProxyBackup());
    return operation(rules);
}

} // namespace

DesktopProxyBackend::DesktopProxyBackend(StoreFactory stores)
    : m_stores(std::move(stores))
{
}

DesktopProxyBackend::Stores DesktopProxyBackend::desktopStores()
{
    Stores stores;
    stores.push_back(std::make_unique<GSettingsProxyStore>());
    stores.push_back(std::make_unique<KioslavercProxyStore>());
    return stores;
}

QCoro::Task<void> DesktopProxyBackend::enable(qint64 port, QCoro::Task<void> lineChecked)
{
    // Reading the desktop's keys takes a few milliseconds: nothing worth starting early.
    co_await std::move(lineChecked);
    auto job = [factory = m_stores, port] { withRules(factory, [port](ProxyKeyRules &rules) { rules.enable(port); }); };
    co_await m_executor.run(job);
}

QCoro::Task<void> DesktopProxyBackend::restoreIfNeeded(bool force)
{
    auto job = [factory = m_stores, force] {
        withRules(factory, [force](ProxyKeyRules &rules) { rules.restoreIfNeeded(force); });
    };
    co_await m_executor.run(job);
}

QCoro::Task<bool> DesktopProxyBackend::recoverStaleProxy()
{
    auto job = [factory = m_stores] {
        return withRules(factory, [](ProxyKeyRules &rules) { return rules.recoverStaleProxy(); });
    };
    co_return co_await m_executor.run(job);
}

QCoro::Task<bool> DesktopProxyBackend::stillApplied()
{
    auto job = [factory = m_stores] {
        return withRules(factory, [](ProxyKeyRules &rules) { return rules.stillApplied(); });
    };
    co_return co_await m_executor.run(job);
}

} // namespace veyra
