#pragma once

#include "Endpoint.h"
#include "KernelConfig.h"
#include "ProviderStore.h"

#include <QHash>
#include <QMap>
#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>

namespace standin {

// Groups, their members and choices, and the rules that pick an outbound for each connection.
class Routing : public QObject {
    Q_OBJECT
public:
    using Log = std::function<void(const QString &)>;

    Routing(const KernelConfig &config, QList<Provider *> providers, Log log, QObject *parent = nullptr);

    QString mode() const { return m_mode; }
    void setMode(const QString &mode) { m_mode = mode; }

    const GroupConfig *group(const QString &name) const;
    const QList<GroupConfig> &groups() const { return m_config.groups; }
    std::optional<NodeConfig> node(const QString &name) const;
    QStringList allNodeNames() const;
    QStringList members(const QString &group) const;
    // The member a group currently sends traffic to.
    QString now(const QString &group) const;
    // Only select groups accept a choice, and only of one of their members.
    bool select(const QString &group, const QString &member);
    std::optional<int> lastDelay(const QString &name) const;

    // Where a connection to `target` goes under the current mode and rules.
    veyra::proxy::Upstream route(const veyra::proxy::Endpoint &target) const;
    // The outbound behind a policy name (node, group, DIRECT, REJECT), following group choices.
    veyra::proxy::Upstream upstreamFor(const QString &name) const;

    // Measures one proxy or group (through its current choice).
    void testProxy(
        const QString &name, const QString &url, int timeoutMs, std::function<void(std::optional<int>)> done);
    // Measures every member of a group at once; failed members are left out of the result.
    void testGroup(
        const QString &group, const QString &url, int timeoutMs, std::function<void(QMap<QString, int>)> done);

    // Starts the periodic url-test measurements and restores stored choices; called once the
    // providers have delivered their nodes.
    void activate(const QString &selectionFile);

private:
    veyra::proxy::Upstream upstreamFor(const QString &name, int depth) const;
    QString describe(const veyra::proxy::Endpoint &target, const QString &policy) const;
    QString globalPolicy() const;
    QString matchRules(const veyra::proxy::Endpoint &target) const;
    void runUrlTest(const QString &group);
    void runHealthCheck(const Provider *provider);
    void storeSelections() const;

    KernelConfig m_config;
    QList<Provider *> m_providers;
    Log m_log;
    QString m_mode;
    QHash<QString, QString> m_selected; // select group → chosen member
    QHash<QString, QString> m_fastest; // url-test group → member in use
    QHash<QString, int> m_delays; // last measurement per proxy or group
    QString m_selectionFile;
    QList<QTimer *> m_timers;
};

} // namespace standin
