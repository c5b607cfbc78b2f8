#pragma once

#include "ServiceState.h"

#include <QHostAddress>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace veyra::proxy {
class ProxyServer;
}

namespace sim {

// The official line's proxy nodes: one SOCKS5 server per node, all on one address, each
// connecting straight to the requested target. Names cover every region of the client's table,
// plus one that only looks like a region.
class ProxyNodes {
public:
    ProxyNodes();
    ~ProxyNodes();

    bool start(const QHostAddress &address, QString *error);
    // Called for every target a node connected to (or failed to), with the node's name: what
    // shows that a request came through the line rather than straight to its host.
    void onConnection(std::function<void(const std::string &node, const QString &target, bool succeeded)> note);
    std::vector<Node> nodes() const;
    qint64 uploadedBytes() const;
    qint64 downloadedBytes() const;

private:
    QHostAddress m_address;
    std::vector<std::pair<std::string, std::unique_ptr<veyra::proxy::ProxyServer>>> m_servers;
};

} // namespace sim
