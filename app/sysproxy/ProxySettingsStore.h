#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>
#include <vector>

namespace veyra {

// One place where the desktop keeps its proxy settings, seen as named keys with text values.
// A key either holds a value the user (or we) set, or none at all (the desktop's default
// applies); keeping that difference is what lets a restore leave the store exactly as it was.
class ProxySettingsStore {
public:
    using Value = std::optional<QString>;
    struct Entry {
        QString key;
        Value value;
    };

    virtual ~ProxySettingsStore() = default;

    // Names the store in the journal.
    virtual QString name() const = 0;
    // Whether this desktop has the store at all; only present stores are written.
    virtual bool present() = 0;
    // The keys that point the desktop at 127.0.0.1:port and their values, in writing order.
    virtual std::vector<Entry> proxyEntries(qint64 port) const = 0;

    virtual Value read(const QString &key) = 0;
    // Writes the entries as one batch (an entry without a value removes the key) and returns
    // once the store has them, so that a read that follows sees what the desktop sees.
    virtual void write(const std::vector<Entry> &entries) = 0;
};

} // namespace veyra
