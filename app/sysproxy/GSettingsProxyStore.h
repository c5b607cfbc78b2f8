#pragma once

#include "ProxySettingsStore.h"

#include <map>

typedef struct _GMainContext GMainContext;
typedef struct _GSettings GSettings;

namespace veyra {

// GNOME's proxy settings (the org.gnome.system.proxy schema and its http, https and socks
// children) through GIO's GSettings in this process. A key's value is its GVariant text; a
// key without a user value reads as nothing and is written back by resetting it, so a restore
// leaves the user's settings database as it was, not merely equal in effect.
//
// GSettings objects are not meant to be shared between threads, and g_settings_sync() blocks
// until the settings daemon has stored every write, so a store is created, used and destroyed
// on one thread: the backend's serial executor, never the main thread. For its lifetime that
// thread's default main context is a private one, so that the change notifications GSettings
// dispatches for these objects are queued there and dropped with it, instead of landing on the
// global default context, which is the one the main thread's Qt event loop runs.
class GSettingsProxyStore : public ProxySettingsStore {
public:
    GSettingsProxyStore();
    ~GSettingsProxyStore() override;
    GSettingsProxyStore(const GSettingsProxyStore &) = delete;
    GSettingsProxyStore &operator=(const GSettingsProxyStore &) = delete;

    QString name() const override { return QStringLiteral("gsettings"); }
    // The schemas are installed and settings are really kept (not GIO's in-memory stand-in,
    // which it falls back to when no settings backend is installed and which no desktop reads).
    bool present() override;
    std::vector<Entry> proxyEntries(qint64 port) const override;
    Value read(const QString &key) override;
    void write(const std::vector<Entry> &entries) override;

private:
    GSettings *settings(const QString &schema);

    GMainContext *m_context;
    std::map<QString, GSettings *> m_settings;
};

} // namespace veyra
