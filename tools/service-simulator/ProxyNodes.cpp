#include "ProxyNodes.h"

#include "ProxyServer.h"

namespace sim {

namespace {

const char *const nodeNames[] = {
    "东京 01", "Hong Kong 02", "新加坡 Singapore", "台北 03", "Los Angeles 04", "首尔 Seoul", "London 05",
    "Relay-jp", // no blank before "jp": belongs to no region
};

} // namespace

ProxyNodes::ProxyNodes() = default;
ProxyNodes::~ProxyNodes() = default;

bool ProxyNodes::start(const QHostAddress &address, QString *error)
{
    m_address = address;
    for (const char *name : nodeNames) {
        auto server = std::make_unique<veyra::proxy::ProxyServer>(veyra::proxy::ProxyServer::Protocols::socks5);
        if (!server->listen(address, 0)) {
            *error = server->errorString();
            return false;
        }
        m_servers.emplace_back(name, std::move(server));
    }
    return true;
}

void ProxyNodes::onConnection(std::function<void(const std::string &, const QString &, bool)> note)
{
    for (const auto &[name, server] : m_servers)
        QObject::connect(server.get(), &veyra::proxy::ProxyServer::routed,
            [name, note](const veyra::proxy::Endpoint &target, const veyra::proxy::Upstream &, bool succeeded) {
                note(name, target.authority(), succeeded);
            });
}

std::vector<Node> ProxyNodes::nodes() const
{
    std::vector<Node> list;
    for (const auto &[name, server] : m_servers)
        list.push_back({ name, m_address.toString().toStdString(), server->port() });
    return list;
}

qint64 ProxyNodes::uploadedBytes() const
{
    qint64 total = 0;
    for (const auto &entry : m_servers)
        total += entry.second->uploadedBytes();
    return total;
}

qint64 ProxyNodes::downloadedBytes() const
{
    qint64 total = 0;
    for (const auto &entry : m_servers)
        total += entry.second->downloadedBytes();
    return total;
}

} // namespace sim
