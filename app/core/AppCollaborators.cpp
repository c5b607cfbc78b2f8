#include "AppCollaborators.h"

namespace veyra {

AppCollaborators AppCollaborators::product()
{
    AppCollaborators collaborators;
    collaborators.settingsStore = std::make_unique<SettingsStore>();
    collaborators.officialLineStore = std::make_unique<OfficialLineStore>();
    collaborators.api = std::make_unique<APIClient>();
    collaborators.proxy = std::make_unique<SystemProxyManager>(
        SystemProxyManager::defaultNetworkSetupPath(), std::make_unique<PrivilegedProxyClient>());
    collaborators.core = std::make_unique<MihomoManager>();
    collaborators.notifications = std::make_unique<NotificationService>();
    return collaborators;
}

} // namespace veyra
