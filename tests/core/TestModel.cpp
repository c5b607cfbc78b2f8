#include "TestModel.h"

#include <QDBusConnection>
#include <QFileInfo>

#include <sys/socket.h>

namespace veyra::test {

AppCollaborators collaboratorsFor(const WorldSeams &seams)
{
    const SecurityPolicy::Resolver resolver = [](const QString &) {
        return std::optional<QList<SecurityPolicy::ResolvedAddress>>(
            QList<SecurityPolicy::ResolvedAddress> { { AF_INET, QByteArray("\xCB\x00\x71\x07", 4) } });
    };
    AppCollaborators made;
    made.defaults = UserDefaults(seams.defaultsFile);
    made.keychain = KeychainStore(made.defaults);
    // A login item in a folder of the test's, for an executable that exists.
    made.loginItem = LoginItemService(
        QFileInfo(seams.defaultsFile).absolutePath() + QStringLiteral("/autostart"), QStringLiteral("/bin/true"));
    made.resolver = resolver;
    made.settingsStore = std::make_unique<SettingsStore>();
    made.officialLineStore
        = std::make_unique<OfficialLineStore>(made.keychain, resolver, QStringLiteral("device-test"));
    APIClientOptions options;
    options.baseURL = QUrl(QStringLiteral("https://127.0.0.1:9/api/v1/"));
    made.api = std::make_unique<APIClient>(std::nullopt, seams.service.value_or(options));
    made.proxy = std::make_unique<SystemProxyManager>(
        seams.networkSetup, std::make_unique<PrivilegedProxyClient>(seams.helperSocket));
    made.core = std::make_unique<MihomoManager>(seams.checkURL, QStringList { seams.kernelResources });
    // The test's private bus stands in for both the session bus (notifications) and the system
    // bus (logind's sleep and wake).
    const QDBusConnection bus = QDBusConnection::connectToBus(
        QString::fromLocal8Bit(qgetenv("DBUS_SESSION_BUS_ADDRESS")), seams.notificationConnection);
    made.notifications = std::make_unique<NotificationService>(bus);
    made.sleepWatcher = std::make_unique<SleepWatcher>(bus);
    return made;
}

} // namespace veyra::test
