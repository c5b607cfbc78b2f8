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
    return helper::runProxyHelper(
        { ownPath, ipc::ProxyHelperConstants::socketPath(), std::string(ipc::ProxyHelperConstants::networkSetupPath) },
        std::cerr);
}
