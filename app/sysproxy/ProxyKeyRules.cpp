#include "ProxyKeyRules.h"

#include "AppPaths.h"
#include "Errors.h"
#include "Logger.h"

#include <algorithm>
#include <exception>

namespace veyra {

ProxyKeyRules::ProxyKeyRules(std::vector<ProxySettingsStore *> stores, QString journalPath)
    : m_stores(std::move(stores))
    , m_journal(std::move(journalPath))
{
}

std::optional<DesktopProxySnapshot> ProxyKeyRules::readJournal() const
{
    std::optional<DesktopProxySnapshot> snapshot
        = AppPaths::read<DesktopProxySnapshot>(m_journal, AppPaths::proxyBackupCap);
    // Only keys a store writes may be put back. Anything else is a damaged file, and it must be
    // refused here: GIO ends the process when asked for a key its schema lacks, which would
    // stop every later start at its repair.
    if (!snapshot)
        return std::nullopt;
    for (const ProxyKeyRecord &record : snapshot->keys) {
        const std::vector<ProxySettingsStore::Entry> known = store(record.store).proxyEntries(0);
        if (std::none_of(known.begin(), known.end(), [&](const auto &entry) { return entry.key == record.key; }))
            throw SystemError(QStringLiteral("代理快照中有未知的设置“%1”。").arg(record.key));
    }
    return snapshot;
}

ProxySettingsStore &ProxyKeyRules::store(const QString &name) const
{
    for (ProxySettingsStore *store : m_stores)
        if (store->name() == name)
            return *store;
    throw SystemError(QStringLiteral("代理快照中有未知的设置位置“%1”。").arg(name));
}

void ProxyKeyRules::write(const std::vector<ProxyKeyRecord> &records, bool ours) const
{
    // Records of one store are contiguous in the journal, in the order they were captured, so
    // each store gets one batch.
    for (std::size_t first = 0; first < records.size();) {
        std::vector<ProxySettingsStore::Entry> batch;
        std::size_t next = first;
        for (; next < records.size() && records[next].store == records[first].store; ++next)
            batch.push_back({ records[next].key, ours ? records[next].applied : records[next].previous });
        store(records[first].store).write(batch);
        first = next;
    }
}

bool ProxyKeyRules::holdsOurValue(const ProxyKeyRecord &record) const
{
    return store(record.store).read(record.key) == record.applied;
}

bool ProxyKeyRules::allHoldOurValues(const std::vector<ProxyKeyRecord> &records) const
{
    return std::all_of(records.begin(), records.end(), [this](const auto &record) { return holdsOurValue(record); });
}

std::vector<ProxyKeyRecord> ProxyKeyRules::stillOurs(const std::vector<ProxyKeyRecord> &records) const
{
    std::vector<ProxyKeyRecord> ours;
    for (const ProxyKeyRecord &record : records) {
        // A key that already held our value before we came changed nothing: there is nothing
        // of ours in it to put back, and a start-up must not report a repair for it.
        if (record.previous != record.applied && holdsOurValue(record))
            ours.push_back(record);
    }
    return ours;
}

void ProxyKeyRules::restore(const std::vector<ProxyKeyRecord> &records) const
{
    // Undone in the reverse order of the apply, so a desktop that follows the changes leaves
    // manual mode before the addresses it pointed at are changed.
    write(std::vector<ProxyKeyRecord>(records.rbegin(), records.rend()), false);
    AppPaths::removeIfExists(m_journal);
}

void ProxyKeyRules::enable(qint64 port)
{
    AppPaths::prepare();
    if (readJournal())
        throw AppError(QStringLiteral("检测到尚未恢复的代理快照，请先执行“修复网络设置”。"));

    DesktopProxySnapshot snapshot;
    for (ProxySettingsStore *store : m_stores) {
        if (!store->present())
            continue;
        for (const ProxySettingsStore::Entry &entry : store->proxyEntries(port))
            snapshot.keys.push_back(
                { store->name(), entry.key, store->read(entry.key), entry.value.value_or(QString()) });
    }
    if (snapshot.keys.empty())
        throw AppError(QStringLiteral("没有找到桌面代理设置（GNOME 或 KDE），无法设置系统代理。"));
    AppPaths::write(snapshot.toJson(), m_journal);

    try {
        write(snapshot.keys, true);
        if (!allHoldOurValues(snapshot.keys))
            throw AppError(QStringLiteral("系统没有确认全部代理设置。"));
    } catch (...) {
        const std::exception_ptr failure = std::current_exception();
        try {
            restore(snapshot.keys);
        } catch (const std::exception &) {
            // The journal stays behind, so repair or the next start can still put things back;
            // the caller hears about the failure that made the roll-back necessary.
        }
        std::rethrow_exception(failure);
    }
}

void ProxyKeyRules::restoreIfNeeded(bool force)
{
    const std::optional<DesktopProxySnapshot> snapshot = readJournal();
    if (!snapshot)
        return;
    const std::vector<ProxyKeyRecord> records = force ? snapshot->keys : stillOurs(snapshot->keys);
    if (records.empty())
        AppPaths::removeIfExists(m_journal);
    else
        restore(records);
}

bool ProxyKeyRules::recoverStaleProxy()
{
    const std::optional<DesktopProxySnapshot> snapshot = readJournal();
    if (!snapshot)
        return false;
    const std::vector<ProxyKeyRecord> records = stillOurs(snapshot->keys);
    if (records.empty()) {
        AppPaths::removeIfExists(m_journal);
        Logger::shared().log(QStringLiteral("发现旧代理快照，但当前设置已被用户修改，因此没有覆盖。"));
        return false;
    }
    restore(records);
    Logger::shared().log(QStringLiteral("检测到上次异常退出，已恢复仍由本应用管理的系统代理。"));
    return true;
}

bool ProxyKeyRules::stillApplied() const
{
    const std::optional<DesktopProxySnapshot> snapshot = readJournal();
    return snapshot && allHoldOurValues(snapshot->keys);
}

} // namespace veyra
