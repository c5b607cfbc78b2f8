#include "Routing.h"

#include "DelayProbe.h"

#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <memory>

namespace standin {

using veyra::proxy::Endpoint;
using veyra::proxy::Upstream;

namespace {

// Groups may name each other; a loop in the configuration must not hang a connection.
constexpr int maximumGroupDepth = 8;

} // namespace

Routing::Routing(const KernelConfig &config, QList<Provider *> providers, Log log, QObject *parent)
    : QObject(parent)
    , m_config(config)
    , m_providers(std::move(providers))
    , m_log(std::move(log))
    , m_mode(config.mode)
{
}

const GroupConfig *Routing::group(const QString &name) const
{
    for (const GroupConfig &group : m_config.groups)
        if (group.name == name)
            return &group;
    return nullptr;
}

std::optional<NodeConfig> Routing::node(const QString &name) const
{
    for (const NodeConfig &node : m_config.proxies)
        if (node.name == name)
            return node;
    for (const Provider *provider : m_providers)
        for (const NodeConfig &node : provider->nodes())
            if (node.name == name)
                return node;
    return std::nullopt;
}

QStringList Routing::allNodeNames() const
{
    QStringList names;
    for (const NodeConfig &node : m_config.proxies)
        names << node.name;
    for (const Provider *provider : m_providers)
        for (const NodeConfig &node : provider->nodes())
            if (!names.contains(node.name))
                names << node.name;
    return names;
}

QStringList Routing::members(const QString &name) const
{
    const GroupConfig *config = group(name);
    if (!config)
        return {};
    QStringList members = config->proxies;
    for (const QString &providerName : config->use)
        for (const Provider *provider : m_providers)
            if (provider->config().name == providerName)
                for (const NodeConfig &node : provider->nodes())
                    if (!members.contains(node.name))
                        members << node.name;
    return members;
}

QString Routing::now(const QString &name) const
{
    const GroupConfig *config = group(name);
    if (!config)
        return {};
    const QStringList all = members(name);
    const QHash<QString, QString> &choices = config->type == QLatin1String("select") ? m_selected : m_fastest;
    const QString chosen = choices.value(name);
    if (!chosen.isEmpty() && all.contains(chosen))
        return chosen;
    return all.value(0);
}

bool Routing::select(const QString &groupName, const QString &member)
{
    const GroupConfig *config = group(groupName);
    if (!config || config->type != QLatin1String("select") || !members(groupName).contains(member))
        return false;
    m_selected[groupName] = member;
    m_log(QStringLiteral("[info] group %1 now uses %2").arg(groupName, member));
    storeSelections();
    return true;
}

std::optional<int> Routing::lastDelay(const QString &name) const
{
    const auto found = m_delays.constFind(name);
    if (found == m_delays.constEnd())
        return std::nullopt;
    return *found;
}

Upstream Routing::upstreamFor(const QString &name) const
{
    return upstreamFor(name, 0);
}

Upstream Routing::upstreamFor(const QString &name, int depth) const
{
    if (name == QLatin1String("DIRECT")) {
        Upstream direct = Upstream::direct();
        direct.ipv4Only = !m_config.ipv6;
        return direct;
    }
    if (name == QLatin1String("REJECT") || depth > maximumGroupDepth)
        return Upstream::reject();
    if (group(name))
        return upstreamFor(now(name), depth + 1);
    const std::optional<NodeConfig> found = node(name);
    if (!found)
        return Upstream::reject();
    Upstream upstream;
    upstream.kind = found->type == QLatin1String("socks5") ? Upstream::Kind::socks5 : Upstream::Kind::http;
    upstream.host = found->server;
    upstream.port = found->port;
    upstream.username = found->username;
    upstream.password = found->password;
    return upstream;
}

QString Routing::matchRules(const Endpoint &target) const
{
    QHostAddress literal;
    const bool isAddress = literal.setAddress(target.host);
    const QString host = target.host.toLower();
    for (const RuleConfig &rule : m_config.rules) {
        const QString value = rule.value.toLower();
        if (rule.type == QLatin1String("MATCH"))
            return rule.target;
        if (rule.type == QLatin1String("DOMAIN")) {
            if (!isAddress && host == value)
                return rule.target;
        } else if (rule.type == QLatin1String("DOMAIN-SUFFIX")) {
            if (!isAddress && (host == value || host.endsWith(QLatin1Char('.') + value)))
                return rule.target;
        } else if (rule.type == QLatin1String("IP-CIDR") || rule.type == QLatin1String("IP-CIDR6")) {
            // Names are never resolved for rules: a rule on addresses only sees address targets.
            if (isAddress && literal.isInSubnet(QHostAddress::parseSubnet(rule.value)))
                return rule.target;
        }
    }
    return QStringLiteral("DIRECT");
}

Upstream Routing::route(const Endpoint &target) const
{
    QString policy;
    if (m_mode == QLatin1String("direct"))
        policy = QStringLiteral("DIRECT");
    else if (m_mode == QLatin1String("global"))
        policy = globalPolicy();
    else
        policy = matchRules(target);
    m_log(describe(target, policy));
    return upstreamFor(policy);
}

QString Routing::globalPolicy() const
{
    // Global mode sends everything through the user's choice: a group named GLOBAL when the
    // configuration has one, otherwise the first select group, otherwise the first group.
    if (group(QStringLiteral("GLOBAL")))
        return QStringLiteral("GLOBAL");
    for (const GroupConfig &config : m_config.groups)
        if (config.type == QLatin1String("select"))
            return config.name;
    return m_config.groups.isEmpty() ? QStringLiteral("DIRECT") : m_config.groups.first().name;
}

QString Routing::describe(const Endpoint &target, const QString &policy) const
{
    QString chain = policy;
    QString current = policy;
    for (int depth = 0; group(current) && depth <= maximumGroupDepth; ++depth) {
        current = now(current);
        chain += QStringLiteral(" -> ") + current;
    }
    return QStringLiteral("[info] [TCP] %1 using %2 (mode %3)").arg(target.authority(), chain, m_mode);
}

void Routing::testProxy(
    const QString &name, const QString &url, int timeoutMs, std::function<void(std::optional<int>)> done)
{
    probeDelay(upstreamFor(name), url, timeoutMs, this, [this, name, done = std::move(done)](std::optional<int> delay) {
        if (delay)
            m_delays[name] = *delay;
        else
            m_delays.remove(name);
        done(delay);
    });
}

void Routing::testGroup(
    const QString &groupName, const QString &url, int timeoutMs, std::function<void(QMap<QString, int>)> done)
{
    const QStringList all = members(groupName);
    auto results = std::make_shared<QMap<QString, int>>();
    auto remaining = std::make_shared<qsizetype>(all.size());
    if (all.isEmpty()) {
        done({});
        return;
    }
    for (const QString &member : all) {
        testProxy(member, url, timeoutMs, [results, remaining, member, done](std::optional<int> delay) {
            if (delay)
                results->insert(member, *delay);
            if (--*remaining == 0)
                done(*results);
        });
    }
}

void Routing::runUrlTest(const QString &groupName)
{
    const GroupConfig *config = group(groupName);
    if (!config || config->url.isEmpty())
        return;
    const int tolerance = config->tolerance;
    testGroup(groupName, config->url, 5'000, [this, groupName, tolerance](const QMap<QString, int> &delays) {
        if (delays.isEmpty()) {
            m_log(QStringLiteral("[warning] group %1: no member answered").arg(groupName));
            return;
        }
        QString best = delays.firstKey();
        for (auto it = delays.cbegin(); it != delays.cend(); ++it)
            if (it.value() < delays.value(best))
                best = it.key();
        const QString current = m_fastest.value(groupName);
        // Within the tolerance the current member stays, so traffic does not flap between
        // nodes of nearly equal speed.
        if (!current.isEmpty() && delays.contains(current) && delays.value(current) <= delays.value(best) + tolerance)
            return;
        m_fastest[groupName] = best;
        m_log(QStringLiteral("[info] group %1 now uses %2 (%3 ms)").arg(groupName, best).arg(delays.value(best)));
    });
}

void Routing::runHealthCheck(const Provider *provider)
{
    const ProviderConfig &config = provider->config();
    for (const NodeConfig &node : provider->nodes()) {
        testProxy(node.name, config.healthCheckUrl, 5'000,
            [this, name = node.name, provider = config.name](std::optional<int> delay) {
                if (!delay)
                    m_log(QStringLiteral("[warning] provider %1: health check of %2 failed").arg(provider, name));
            });
    }
}

void Routing::activate(const QString &selectionFile)
{
    m_selectionFile = selectionFile;
    if (!m_selectionFile.isEmpty()) {
        QFile file(m_selectionFile);
        if (file.open(QIODevice::ReadOnly) && file.size() < 1024 * 1024) {
            const QJsonObject stored = QJsonDocument::fromJson(file.readAll()).object();
            for (auto it = stored.begin(); it != stored.end(); ++it) {
                const GroupConfig *config = group(it.key());
                if (config && config->type == QLatin1String("select") && members(it.key()).contains(it->toString()))
                    m_selected[it.key()] = it->toString();
            }
        }
    }
    // Provider health checks measure every node of the provider, so that a fresh listing
    // already carries delays.
    for (const Provider *provider : m_providers) {
        const ProviderConfig &config = provider->config();
        if (!config.healthCheck || config.healthCheckUrl.isEmpty())
            continue;
        runHealthCheck(provider);
        if (config.healthCheckInterval > 0) {
            auto *timer = new QTimer(this);
            connect(timer, &QTimer::timeout, this, [this, provider] { runHealthCheck(provider); });
            timer->start(std::chrono::seconds(config.healthCheckInterval));
            m_timers << timer;
        }
    }
    for (const GroupConfig &config : m_config.groups) {
        if (config.type != QLatin1String("url-test"))
            continue;
        runUrlTest(config.name);
        if (config.interval > 0) {
            auto *timer = new QTimer(this);
            connect(timer, &QTimer::timeout, this, [this, name = config.name] { runUrlTest(name); });
            timer->start(std::chrono::seconds(config.interval));
            m_timers << timer;
        }
    }
}

void Routing::storeSelections() const
{
    if (m_selectionFile.isEmpty())
        return;
    QJsonObject stored;
    for (auto it = m_selected.cbegin(); it != m_selected.cend(); ++it)
        stored.insert(it.key(), it.value());
    QSaveFile file(m_selectionFile);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QJsonDocument(stored).toJson(QJsonDocument::Compact));
        if (!file.commit())
            m_log(QStringLiteral("[warning] cannot store the selected proxies"));
    }
}

} // namespace standin
