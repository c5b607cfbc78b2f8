#pragma once

#include "APIClient.h"
#include "KeychainStore.h"
#include "MihomoManager.h"
#include "NotificationService.h"
#include "OfficialLineStore.h"
#include "SettingsStore.h"
#include "SystemProxyManager.h"

#include <memory>

namespace veyra {

// The collaborators one model owns for its lifetime. The product builds its own with
// product(); tests build them with their seams (kernel resources, check address, tool path,
// helper socket, service address, bus) and hand them over whole.
struct AppCollaborators {
    std::unique_ptr<SettingsStore> settingsStore;
    std::unique_ptr<OfficialLineStore> officialLineStore;
    // Created without a token: reading the secret store blocks, so start-up loads the session
    // token off the main thread and hands it to the client before the first request.
    std::unique_ptr<APIClient> api;
    std::unique_ptr<SystemProxyManager> proxy;
    std::unique_ptr<MihomoManager> core;
    std::unique_ptr<NotificationService> notifications;
    // Where the session token lives (the defaults seam picks the session namespace).
    KeychainStore keychain;

    static AppCollaborators product();
};

} // namespace veyra
