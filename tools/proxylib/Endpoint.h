#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace veyra::proxy {

// Where a client wants to go: a host name or an IP literal (IPv6 without brackets) and a port.
struct Endpoint {
    QString host;
    quint16 port = 0;

    // "host:port", with IPv6 literals in brackets, as used in CONNECT lines and Host headers.
    QString authority() const;
    bool operator==(const Endpoint &) const = default;
};

// Splits "host:port" or "[v6]:port". Without a port, `defaultPort` is used when non-zero.
std::optional<Endpoint> parseAuthority(const QString &text, quint16 defaultPort = 0);

// How a connection leaves this process.
struct Upstream {
    enum class Kind { direct, socks5, http, reject };
    Kind kind = Kind::direct;
    QString host; // the node's address, unused for direct and reject
    quint16 port = 0;
    QString username; // optional credentials for the node
    QString password;
    // For direct connections: resolve and connect over IPv4 only.
    bool ipv4Only = false;

    static Upstream direct() { return {}; }
    static Upstream reject()
    {
        Upstream upstream;
        upstream.kind = Kind::reject;
        return upstream;
    }
};

} // namespace veyra::proxy
