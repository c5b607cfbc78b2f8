#include "AppCollaborators.h"

#include <QDesktopServices>

#include <algorithm>
#include <array>

namespace veyra {

std::chrono::milliseconds AppCollaborators::orderPollDelay(int attempt)
{
    static constexpr std::array<int, 12> seconds { 2, 2, 3, 3, 5, 5, 8, 8, 12, 15, 20, 30 };
    const auto index = static_cast<std::size_t>(std::clamp(attempt, 0, int(seconds.size()) - 1));
    return std::chrono::seconds(seconds[index]);
}

bool AppCollaborators::openInBrowser(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

AppCollaborators AppCollaborators::product()
{
    AppCollaborators collaborators;
    collaborators.settingsStore = std::make_unique<SettingsStore>();
    collaborators.officialLineStore = std::make_unique<OfficialLineStore>();
    collaborators.api = std::make_unique<APIClient>();
    collaborators.proxy = SystemProxyManager::forThisSystem();
    collaborators.core = std::make_unique<MihomoManager>();
    collaborators.notifications = std::make_unique<NotificationService>();
    collaborators.sleepWatcher = std::make_unique<SleepWatcher>(QDBusConnection::systemBus());
    return collaborators;
}

} // namespace veyra
