#include "veyra/ipc/ProxyHelperConstants.h"

namespace veyra::ipc::ProxyHelperConstants {

static_assert(machServiceName.substr(0, appIdentifier.size()) == appIdentifier);
static_assert(machServiceName.substr(appIdentifier.size()) == ".proxy-helper");

std::string socketPath()
{
    return "/run/" + std::string(machServiceName) + ".sock";
}

} // namespace veyra::ipc::ProxyHelperConstants
