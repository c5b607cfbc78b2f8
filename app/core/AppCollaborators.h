#pragma once

#include "APIClient.h"
#include "KeychainStore.h"
#include "LoginItemService.h"
#include "MihomoManager.h"
#include "NotificationService.h"
#include "OfficialLineStore.h"
#include "SecurityPolicy.h"
#include "SettingsStore.h"
#include "SleepWatcher.h"
#include "SystemProxyManager.h"

#include <QDateTime>
#include <QUrl>

#include <chrono>
#include <functional>
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
    // The machine's sleep and wake, from logind on the system bus; none in tests that do not
    // give it a bus of their own.
    std::unique_ptr<SleepWatcher> sleepWatcher;
    // User defaults (the installation marker) and the session token's secret store, whose
    // namespace lives in the same defaults.
    UserDefaults defaults;
    KeychainStore keychain { defaults };
    // Starting at login.
    LoginItemService loginItem;
    // The time now (a pending order's age) and the wait before each order-status query
    // (attempt 0, 1, ...); tests run the table faster.
    std::function<QDateTime()> clock = [] { return QDateTime::currentDateTimeUtc(); };
    std::function<std::chrono::milliseconds(int attempt)> pollDelay = orderPollDelay;
    // Name resolution for the address checks the model makes itself (checkout pages).
    SecurityPolicy::Resolver resolver = SecurityPolicy::systemResolver();
    // Opens an address in the default browser; false when the system refuses.
    std::function<bool(const QUrl &)> openURL = openInBrowser;

    // 2, 2, 3, 3, 5, 5, 8, 8, 12, 15, 20 and then 30 seconds.
    static std::chrono::milliseconds orderPollDelay(int attempt);
    static bool openInBrowser(const QUrl &url);

    static AppCollaborators product();
};

} // namespace veyra
