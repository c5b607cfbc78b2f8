#include "Kernel.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <memory>

namespace standin {

using veyra::proxy::ProxyServer;

namespace {

int levelOf(const QString &name)
{
    static const QStringList levels { QStringLiteral("debug"), QStringLiteral("info"), QStringLiteral("warning"),
        QStringLiteral("error"), QStringLiteral("silent") };
    return std::max<int>(0, static_cast<int>(levels.indexOf(name)));
}

int levelOfLine(const QString &line)
{
    if (line.startsWith(QLatin1String("[debug]")))
        return 0;
    if (line.startsWith(QLatin1String("[warning]")))
        return 2;
    if (line.startsWith(QLatin1String("[error]")))
        return 3;
    return 1;
}

HttpResponse json(const QJsonObject &object, int status = 200)
{
    return { status, QJsonDocument(object).toJson(QJsonDocument::Compact) };
}

HttpResponse message(int status, const QString &text)
{
    return json(QJsonObject { { QStringLiteral("message"), text } }, status);
}

QString typeName(const QString &configType)
{
    if (configType == QLatin1String("select"))
        return QStringLiteral("Selector");
    if (configType == QLatin1String("url-test"))
        return QStringLiteral("URLTest");
    if (configType == QLatin1String("socks5"))
        return QStringLiteral("Socks5");
    return QStringLiteral("Http");
}

} // namespace

Kernel::Kernel(KernelConfig config, QString home, QObject *parent)
    : QObject(parent)
    , m_config(std::move(config))
    , m_home(std::move(home))
    , m_logThreshold(levelOf(m_config.logLevel))
{
    auto logger = [this](const QString &line) { log(line); };
    for (const ProviderConfig &provider : m_config.providers)
        m_providers << new Provider(provider, logger, this);
    m_routing = new Routing(m_config, m_providers, logger, this);
    m_trafficTimer.setInterval(1000);
    connect(&m_trafficTimer, &QTimer::timeout, this, &Kernel::sampleTraffic);
}

void Kernel::log(const QString &line) const
{
    if (levelOfLine(line) < m_logThreshold)
        return;
    std::fprintf(stdout, "%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

bool Kernel::start()
{
    // With LAN access off the listeners stay on loopback whatever the bind address says.
    QHostAddress address = QHostAddress::LocalHost;
    if (m_config.allowLan)
        address = m_config.bindAddress == QLatin1String("*") ? QHostAddress(QHostAddress::Any)
                                                             : QHostAddress(m_config.bindAddress);
    else if (m_config.bindAddress != QLatin1String("*") && QHostAddress(m_config.bindAddress).isLoopback())
        address = QHostAddress(m_config.bindAddress);

    const QList<QPair<quint16, ProxyServer::Protocols>> inbounds {
        { m_config.mixedPort, ProxyServer::Protocols::mixed }, { m_config.socksPort, ProxyServer::Protocols::socks5 }
    };
    for (const auto &[port, protocols] : inbounds) {
        if (port == 0)
            continue;
        auto *server = new ProxyServer(protocols, this);
        server->setRouter([this](const veyra::proxy::Endpoint &target) { return m_routing->route(target); });
        connect(server, &ProxyServer::routed, this,
            [this](const veyra::proxy::Endpoint &target, const veyra::proxy::Upstream &, bool succeeded) {
                if (!succeeded)
                    log(QStringLiteral("[warning] [TCP] %1 failed to connect").arg(target.authority()));
            });
        if (!server->listen(address, port)) {
            log(QStringLiteral("[error] cannot listen on %1:%2: %3")
                    .arg(address.toString())
                    .arg(port)
                    .arg(server->errorString()));
            return false;
        }
        log(QStringLiteral("[info] %1 proxy listening at %2:%3")
                .arg(protocols == ProxyServer::Protocols::mixed ? QStringLiteral("mixed (HTTP+SOCKS5)")
                                                                : QStringLiteral("SOCKS5"))
                .arg(address.toString())
                .arg(port));
        m_listeners << server;
    }

    // As in a real kernel, the controller answers at once and providers load behind it: a
    // slow subscription server delays the nodes, never the kernel's start. Groups pick up a
    // provider's nodes as soon as it has loaded them.
    QMetaObject::invokeMethod(this, &Kernel::openController, Qt::QueuedConnection);
    auto remaining = std::make_shared<qsizetype>(m_providers.size());
    if (m_providers.isEmpty()) {
        QMetaObject::invokeMethod(this, &Kernel::activateRouting, Qt::QueuedConnection);
        return true;
    }
    for (Provider *provider : m_providers) {
        provider->load([this, remaining] {
            if (--*remaining == 0)
                activateRouting();
        });
    }
    return true;
}

void Kernel::activateRouting()
{
    const QString selectionFile
        = m_config.storeSelected ? m_home + QStringLiteral("/selected-proxies.json") : QString();
    m_routing->activate(selectionFile);
}

void Kernel::openController()
{
    if (m_config.controllerPort == 0)
        return;
    m_controller = new ControllerServer(
        m_config.secret,
        [this](const HttpRequest &request, std::function<void(HttpResponse)> respond) {
            handle(request, std::move(respond));
        },
        this);
    m_controller->addStream(QStringLiteral("/traffic"));
    if (!m_controller->listen(QHostAddress(m_config.controllerHost), m_config.controllerPort)) {
        log(QStringLiteral("[error] controller cannot listen on %1:%2: %3")
                .arg(m_config.controllerHost)
                .arg(m_config.controllerPort)
                .arg(m_controller->errorString()));
        emit fatal();
        return;
    }
    log(QStringLiteral("[info] controller listening at %1:%2")
            .arg(m_config.controllerHost)
            .arg(m_config.controllerPort));
    m_trafficTimer.start();
}

void Kernel::sampleTraffic()
{
    qint64 up = 0;
    qint64 down = 0;
    for (const ProxyServer *server : m_listeners) {
        up += server->uploadedBytes();
        down += server->downloadedBytes();
    }
    const QJsonObject sample { { QStringLiteral("up"), up - m_lastUp }, { QStringLiteral("down"), down - m_lastDown } };
    m_lastUp = up;
    m_lastDown = down;
    m_controller->broadcast(QStringLiteral("/traffic"), QJsonDocument(sample).toJson(QJsonDocument::Compact));
}

HttpResponse Kernel::proxyInfo(const QString &name) const
{
    QJsonObject info { { QStringLiteral("name"), name }, { QStringLiteral("udp"), false } };
    if (const GroupConfig *group = m_routing->group(name)) {
        info.insert(QStringLiteral("type"), typeName(group->type));
        info.insert(QStringLiteral("now"), m_routing->now(name));
        info.insert(QStringLiteral("all"), QJsonArray::fromStringList(m_routing->members(name)));
    } else if (name == QLatin1String("DIRECT") || name == QLatin1String("REJECT")) {
        info.insert(QStringLiteral("type"),
            name == QLatin1String("DIRECT") ? QStringLiteral("Direct") : QStringLiteral("Reject"));
    } else if (const auto node = m_routing->node(name)) {
        info.insert(QStringLiteral("type"), typeName(node->type));
    } else {
        return message(404, QStringLiteral("resource not found"));
    }
    QJsonArray history;
    if (const auto delay = m_routing->lastDelay(name))
        history.append(QJsonObject { { QStringLiteral("delay"), *delay } });
    info.insert(QStringLiteral("history"), history);
    return json(info);
}

HttpResponse Kernel::providersInfo(const QString &only) const
{
    QJsonObject providers;
    for (const Provider *provider : m_providers) {
        if (!only.isEmpty() && provider->config().name != only)
            continue;
        QJsonArray proxies;
        for (const NodeConfig &node : provider->nodes())
            proxies.append(proxyInfo(node.name).status == 200
                    ? QJsonDocument::fromJson(proxyInfo(node.name).body).object()
                    : QJsonObject());
        QJsonObject entry { { QStringLiteral("name"), provider->config().name },
            { QStringLiteral("type"), QStringLiteral("Proxy") },
            { QStringLiteral("vehicleType"), QStringLiteral("HTTP") }, { QStringLiteral("proxies"), proxies },
            { QStringLiteral("updatedAt"), provider->updatedAt().toUTC().toString(Qt::ISODate) } };
        if (const auto &info = provider->subscription()) {
            entry.insert(QStringLiteral("subscriptionInfo"),
                QJsonObject { { QStringLiteral("upload"), info->upload },
                    { QStringLiteral("download"), info->download }, { QStringLiteral("total"), info->total },
                    { QStringLiteral("expire"), info->expire } });
        }
        if (!only.isEmpty())
            return json(entry);
        providers.insert(provider->config().name, entry);
    }
    if (!only.isEmpty())
        return message(404, QStringLiteral("resource not found"));
    return json(QJsonObject { { QStringLiteral("providers"), providers } });
}

void Kernel::handle(const HttpRequest &request, std::function<void(HttpResponse)> respond)
{
    const QStringList parts = request.path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const QByteArray &method = request.method;
    const auto timeoutOf = [&request] {
        bool ok = false;
        const int timeout = request.query.value(QStringLiteral("timeout")).toInt(&ok);
        return ok && timeout > 0 ? std::min(timeout, 60'000) : 5'000;
    };

    if (parts.isEmpty() && method == "GET")
        return respond(json({ { QStringLiteral("hello"), QStringLiteral("stand-in kernel") } }));
    if (parts == QStringList { QStringLiteral("version") } && method == "GET")
        return respond(json({ { QStringLiteral("version"), QStringLiteral("stand-in 1.0") } }));

    if (parts.value(0) == QLatin1String("proxies")) {
        if (parts.size() == 1 && method == "GET") {
            QJsonObject all;
            QStringList names { QStringLiteral("DIRECT"), QStringLiteral("REJECT") };
            for (const GroupConfig &group : m_routing->groups())
                names << group.name;
            names << m_routing->allNodeNames();
            for (const QString &name : names)
                all.insert(name, QJsonDocument::fromJson(proxyInfo(name).body).object());
            return respond(json({ { QStringLiteral("proxies"), all } }));
        }
        const QString name = parts.value(1);
        if (parts.size() == 2 && method == "GET")
            return respond(proxyInfo(name));
        if (parts.size() == 2 && method == "PUT") {
            if (!m_routing->group(name))
                return respond(message(404, QStringLiteral("resource not found")));
            const QJsonObject body = QJsonDocument::fromJson(request.body).object();
            const QString member = body.value(QStringLiteral("name")).toString();
            if (!m_routing->select(name, member))
                return respond(
                    message(400, QStringLiteral("Selector update error: proxy not found or not selectable")));
            return respond({ 204, {} });
        }
        if (parts.size() == 3 && parts[2] == QLatin1String("delay") && method == "GET") {
            const QString url = request.query.value(QStringLiteral("url"));
            if (url.isEmpty())
                return respond(message(400, QStringLiteral("url is required")));
            if (proxyInfo(name).status != 200)
                return respond(message(404, QStringLiteral("resource not found")));
            m_routing->testProxy(name, url, timeoutOf(), [respond](std::optional<int> delay) {
                if (delay)
                    respond(json({ { QStringLiteral("delay"), *delay } }));
                else
                    respond(message(504, QStringLiteral("Timeout")));
            });
            return;
        }
    }

    if (parts.value(0) == QLatin1String("group") && parts.size() == 3 && parts[2] == QLatin1String("delay")
        && method == "GET") {
        const QString name = parts[1];
        const QString url = request.query.value(QStringLiteral("url"));
        if (!m_routing->group(name))
            return respond(message(404, QStringLiteral("resource not found")));
        if (url.isEmpty())
            return respond(message(400, QStringLiteral("url is required")));
        m_routing->testGroup(name, url, timeoutOf(), [respond](const QMap<QString, int> &delays) {
            QJsonObject result;
            for (auto it = delays.cbegin(); it != delays.cend(); ++it)
                result.insert(it.key(), it.value());
            respond(json(result));
        });
        return;
    }

    if (parts == QStringList { QStringLiteral("configs") }) {
        if (method == "GET")
            return respond(json({ { QStringLiteral("mixed-port"), m_config.mixedPort },
                { QStringLiteral("socks-port"), m_config.socksPort }, { QStringLiteral("mode"), m_routing->mode() },
                { QStringLiteral("allow-lan"), m_config.allowLan },
                { QStringLiteral("bind-address"), m_config.bindAddress },
                { QStringLiteral("log-level"), m_config.logLevel }, { QStringLiteral("ipv6"), m_config.ipv6 } }));
        if (method == "PATCH") {
            const QJsonObject body = QJsonDocument::fromJson(request.body).object();
            if (body.contains(QStringLiteral("mode"))) {
                const QString mode = body.value(QStringLiteral("mode")).toString().toLower();
                if (!isKnownMode(mode))
                    return respond(message(400, QStringLiteral("Body invalid: unknown mode")));
                m_routing->setMode(mode);
                log(QStringLiteral("[info] mode switched to %1").arg(mode));
            }
            return respond({ 204, {} });
        }
    }

    if (parts.value(0) == QLatin1String("providers") && parts.value(1) == QLatin1String("proxies")) {
        if (parts.size() == 2 && method == "GET")
            return respond(providersInfo(QString()));
        if (parts.size() == 3 && method == "GET")
            return respond(providersInfo(parts[2]));
        if (parts.size() == 3 && method == "PUT") {
            for (Provider *provider : m_providers) {
                if (provider->config().name == parts[2]) {
                    provider->refresh([respond] { respond({ 204, {} }); });
                    return;
                }
            }
            return respond(message(404, QStringLiteral("resource not found")));
        }
    }
    respond(message(404, QStringLiteral("resource not found")));
}

} // namespace standin
