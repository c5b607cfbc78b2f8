#pragma once

#include "DesktopProxySnapshot.h"
#include "ProxySettingsStore.h"

#include <QString>

#include <optional>
#include <vector>

namespace veyra {

// The journal, apply, read-back and restore rules, once, for any set of key stores. Blocking:
// the backend runs it on its own thread.
//
// The journal is written before the first change and removed only after a successful restore,
// so a crash at any point leaves what the next start needs to repair. Each key is judged on
// its own: a key the user changed while we were connected is theirs and is never overwritten
// by a restore that is not forced.
class ProxyKeyRules {
public:
    // `stores` are every store this backend knows, present on this desktop or not: a journal
    // may name a store that has since gone, and it must still be restorable.
    ProxyKeyRules(std::vector<ProxySettingsStore *> stores, QString journalPath);

    void enable(qint64 port);
    void restoreIfNeeded(bool force);
    bool recoverStaleProxy();
    bool stillApplied() const;

private:
    std::optional<DesktopProxySnapshot> readJournal() const;
    ProxySettingsStore &store(const QString &name) const;
    // Each record's previous value, or our value, written store by store.
    void write(const std::vector<ProxyKeyRecord> &records, bool ours) const;
    bool holdsOurValue(const ProxyKeyRecord &record) const;
    bool allHoldOurValues(const std::vector<ProxyKeyRecord> &records) const;
    // The keys we changed that still hold the value we wrote.
    std::vector<ProxyKeyRecord> stillOurs(const std::vector<ProxyKeyRecord> &records) const;
    void restore(const std::vector<ProxyKeyRecord> &records) const;

    std::vector<ProxySettingsStore *> m_stores;
    QString m_journal;
};

} // namespace veyra
