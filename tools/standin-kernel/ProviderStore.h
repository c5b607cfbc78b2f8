#pragma once

#include "KernelConfig.h"

#include <QDateTime>
#include <QNetworkAccessManager>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace standin {

// The subscription usage a provider's server announces in "subscription-userinfo".
struct SubscriptionInfo {
    qint64 upload = 0;
    qint64 download = 0;
    qint64 total = 0;
    qint64 expire = 0;
};

std::optional<SubscriptionInfo> parseSubscriptionUserinfo(const QByteArray &header);

// One remote node list: loaded from its cache file, downloaded with its headers, refreshed
// on its interval, cached again after every good download.
// Test set-ups serve subscriptions under made-up public names; this sends a download for
// such a name to the address given on the command line (--map-host NAME=ADDRESS[:PORT])
// while the certificate is still checked against the name.
void mapHost(const QString &name, const QString &address);

class Provider : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 maximumDocument = 16 * 1024 * 1024;
    static constexpr int downloadTimeoutMs = 8'000;

    Provider(ProviderConfig config, std::function<void(const QString &)> log, QObject *parent = nullptr);

    const ProviderConfig &config() const { return m_config; }
    const QList<NodeConfig> &nodes() const { return m_nodes; }
    const std::optional<SubscriptionInfo> &subscription() const { return m_subscription; }
    QDateTime updatedAt() const { return m_updatedAt; }

    // Uses a fresh cache if there is one, otherwise downloads; `done` runs once either way.
    void load(std::function<void()> done);
    void refresh(std::function<void()> done = {});

signals:
    void nodesChanged();

private:
    bool loadCache(bool onlyIfFresh);
    void adopt(const QByteArray &document, const QString &origin);

    ProviderConfig m_config;
    std::function<void(const QString &)> m_log;
    QNetworkAccessManager m_network;
    QTimer m_timer;
    QList<NodeConfig> m_nodes;
    std::optional<SubscriptionInfo> m_subscription;
    QDateTime m_updatedAt;
};

} // namespace standin
