#pragma once

#include "ServiceState.h"

#include <QHostAddress>
#include <QString>

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
    std::vector<Node> nodes() const;
    qint64 uploadedBytes() const;
    qint64 downloadedBytes() const;

private:
    QHostAddress m_address;
    std::vector<std::pair<std::string, std::unique_ptr<veyra::proxy::ProxyServer>>> m_servers;
};

} // namespace sim
