#pragma once

#include "ConnectionSlots.h"
#include "PeerAuthorizer.h"
#include "ProxyHelperService.h"

#include <chrono>
#include <memory>
#include <optional>

namespace veyra::helper {

// Accepts connections on a listening Unix socket and serves each on its own thread: peer
// check, one framed request, one framed reply, close. At most `maximumConnections` are
// served at once; further clients wait in the listen backlog. A connection beyond its peer
// uid's share is closed at once, unanswered.
class ProxyHelperServer {
public:
    struct Limits {
        std::size_t maximumConnections = 16;
        // Well below the total, so one user stalling connections leaves room for the others.
        std::size_t maximumConnectionsPerUser = 4;
        // A client gets this long to deliver its whole request, and the reply this long to
        // leave, so a silent or stuck client cannot hold a thread for ever.
        std::chrono::milliseconds ioTimeout { 5000 };
        // When set, serve() returns once no connection has been in flight for this long.
        std::optional<std::chrono::milliseconds> idleExit;
    };

    ProxyHelperServer(int listeningSocket, ProxyHelperService service, std::unique_ptr<PeerAuthorizer> authorizer);
    ProxyHelperServer(
        int listeningSocket, ProxyHelperService service, std::unique_ptr<PeerAuthorizer> authorizer, Limits limits);
    ~ProxyHelperServer();
    ProxyHelperServer(const ProxyHelperServer &) = delete;
    ProxyHelperServer &operator=(const ProxyHelperServer &) = delete;

    // Accepts until stop() is called or the idle time ran out; then waits for the connections
    // in progress.
    void serve();
    // Callable from any thread.
    void stop();

private:
    void serveConnection(int connection);
    void dispatch(int connection);
    int pollTimeout();
    bool idleTimeReached();

    int m_listener;
    int m_wake[2] = { -1, -1 };
    ProxyHelperService m_service;
    std::unique_ptr<PeerAuthorizer> m_authorizer;
    Limits m_limits;
    ConnectionSlots m_slots;
};

// Binds a stream socket at `path` (replacing a stale socket file, never another kind of
// file), makes it connectable by every local user (0666) and listens. Throws
// std::system_error on failure.
int bindListeningSocket(const std::string &path);

} // namespace veyra::helper
