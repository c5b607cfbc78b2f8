#include "ProxyHelperDaemon.h"

#include "DesignatedRequirement.h"
#include "ProxyHelperServer.h"

#include <csignal>
#include <systemd/sd-daemon.h>

namespace veyra::helper {

int runProxyHelper(
    const ProxyHelperLocations &locations, std::ostream &errors, std::chrono::milliseconds activatedIdleExit)
{
    std::optional<DesignatedRequirement> requirement = containingAppDesignatedRequirement(locations.ownPath);
    if (!requirement) {
        errors << refusalText << "\n";
        errors.flush();
        return 1;
    }
    // A client that disconnects early must not kill the daemon through SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    int listener = -1;
    try {
        ProxyHelperServer::Limits limits;
        const int passed = sd_listen_fds(1);
        if (passed == 1 && sd_is_socket_unix(SD_LISTEN_FDS_START, SOCK_STREAM, 1, nullptr, 0) > 0) {
            listener = SD_LISTEN_FDS_START;
            limits.idleExit = activatedIdleExit;
        } else {
            listener = bindListeningSocket(locations.socketPath);
        }
        ProxyHelperServer server(listener, ProxyHelperService(locations.toolPath, locations.recordFile),
            std::make_unique<RequirementPeerAuthorizer>(std::move(*requirement)), limits);
        sd_notify(0, "READY=1");
        server.serve();
        return 0;
    } catch (const std::exception &error) {
        errors << "VeyraProxyHelper: " << error.what() << "\n";
    }
    return 1;
}

} // namespace veyra::helper
