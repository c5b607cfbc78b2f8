#pragma once

#include "ProxySettingsStore.h"

namespace veyra {

// KDE's proxy settings: the [Proxy Settings] group of kioslaverc in the user's configuration
// folder. After every write, running KDE applications are told to read the file again.
class KioslavercProxyStore : public ProxySettingsStore {
public:
    // `configFolder` is a seam for tests; by default the user's configuration folder.
    explicit KioslavercProxyStore(QString configFolder = {});

    QString name() const override { return QStringLiteral("kioslaverc"); }
    // The file exists, or the session is KDE's (a fresh KDE account has no kioslaverc yet).
    bool present() override;
    std::vector<Entry> proxyEntries(qint64 port) const override;
    Value read(const QString &key) override;
    void write(const std::vector<Entry> &entries) override;

    QString path() const { return m_path; }

private:
    QByteArray contents() const;
    // Writes the file; empty, it is removed instead unless `keepFile`.
    void replaceContents(const QByteArray &bytes, bool keepFile) const;

    QString m_path;
};

} // namespace veyra
