// VeyraProxyHelper: runs validated networksetup command lines as root for the application
// bundle it was installed in.
#include "ProxyHelperDaemon.h"

#include "veyra/ipc/ProxyHelperConstants.h"

#include <iostream>

int main(int argc, char **argv)
{
    using namespace veyra;
    // The own path is the first argument as systemd passes it (the unit's absolute path).
    const std::string ownPath = argc > 0 && argv[0] ? argv[0] : "";
    // Root's own state folder for this application; the service unit lets the helper write there.
    const std::string recordFile
        = "/var/lib/" + std::string(ipc::ProxyHelperConstants::appIdentifier) + "/proxy-settings-before.json";
    return helper::runProxyHelper({ ownPath, ipc::ProxyHelperConstants::socketPath(),
                                      std::string(ipc::ProxyHelperConstants::networkSetupPath), recordFile },
        std::cerr);
}
