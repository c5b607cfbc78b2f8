#pragma once

#include "Json.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <vector>

namespace veyra {

// One proxy (HTTP, HTTPS or SOCKS) of one network service.
struct ProxyEndpointState {
    bool enabled = false;
    QString server;
    qint64 port = 0;

    json::Json toJson() const;
    static ProxyEndpointState fromJson(const json::Json &value);
    bool operator==(const ProxyEndpointState &) const = default;
};

// Everything the manager may change on one network service.
struct NetworkServiceProxySnapshot {
    QString service;
    ProxyEndpointState web;
    ProxyEndpointState secureWeb;
    ProxyEndpointState socks;
    QStringList bypassDomains;
    QString autoProxyURL;
    bool autoProxyEnabled = false;
    bool autoDiscoveryEnabled = false;

    json::Json toJson() const;
    static NetworkServiceProxySnapshot fromJson(const json::Json &value);
    bool operator==(const NetworkServiceProxySnapshot &) const = default;
};

// The backup file: the state of each touched service before the change, and the port set.
// Every key is required when reading; a file that does not decode is an error.
struct ProxySnapshot {
    qint64 appliedPort = 0;
    std::vector<NetworkServiceProxySnapshot> services;

    json::Json toJson() const;
    static ProxySnapshot fromJson(const json::Json &value);
};

} // namespace veyra
