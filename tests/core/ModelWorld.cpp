#include "ModelWorld.h"
#include "AppModelTestPeer.h"

#include "AppPaths.h"
#include "KernelTestSupport.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>
#include <fstream>
#include <string>
#include <unistd.h>

namespace veyra::test {

void ModelWorld::SetUp()
{
    DataFolderTest::SetUp();
    ASSERT_TRUE(fixtures.isValid());
    keyring = std::make_unique<KeyringSession>();
    ASSERT_TRUE(keyring->running());
    notificationServer = std::make_unique<NotificationServer>();
    ASSERT_TRUE(notificationServer->registered());
    simulator = std::make_unique<ServiceSimulator>(QStringList { QStringLiteral("--public-url"),
        QStringLiteral("https://%1:8443").arg(QLatin1String(ServiceSimulator::lineHost)), QStringLiteral("--nodes"),
        QStringLiteral("127.0.0.1") });
    ASSERT_TRUE(simulator->started());
    // Some traffic already on the account, as the line's usage header reports it.
    simulator->admin(QStringLiteral("accounts"),
        { { "account", member }, { "password", password }, { "active", true }, { "uploadBytes", 1000 },
            { "downloadBytes", 2000 } });

    check.route("/generate_204", { 204, {}, {} });
    check.route("/payload", { 200, {}, QByteArray(512 * 1024, 'p') });
    check.route("/moved", { 302, { { "Location", "http://127.0.0.1:1/" } }, {} });

    resources = fixtures.filePath(QStringLiteral("resources"));
    QDir().mkpath(resources);
    installScriptResource(resources,
        "#!/bin/sh\nexec '" + (bundledKernelDirectory() + QStringLiteral("/mihomo")).toUtf8()
            + "' --trust-certificate '" + simulator->certificatePath().toUtf8() + "' --map-host "
            + QByteArray(ServiceSimulator::lineHost) + "=127.0.0.1:" + QByteArray::number(simulator->port())
            + " \"$@\"\n");

    helper = std::make_unique<HelperHarness>();
}

void ModelWorld::TearDown()
{
    if (model)
        await(model->shutdown());
    model.reset();
    helper.reset();
    simulator.reset();
    notificationServer.reset();
    keyring.reset();
    DataFolderTest::TearDown();
}

AppCollaborators ModelWorld::collaborators(const QString &checkPath)
{
    return collaboratorsFor({ resources, check.url(checkPath.toUtf8()), helper->socketPath(),
        QStringLiteral(VEYRA_NETWORKSETUP_EXECUTABLE), fixtures.filePath(QStringLiteral("defaults.ini")),
        QStringLiteral("veyra-test-notification-client"), simulator->clientOptions() });
}

AppSettings ModelWorld::freeSettings()
{
    AppSettings settings = settingsWithFreePorts();
    settings.showNotifications = true;
    return settings;
}

void ModelWorld::importSettings(AppModel &into, const AppSettings &settings)
{
    const QString file = fixtures.filePath(QStringLiteral("import.json"));
    AppPaths::write(settings.toJson(), file);
    await(into.importSettings(file));
    EXPECT_EQ(into.settings(), settings) << into.alertMessage().value_or(QString()).toStdString();
}

AppModel &ModelWorld::makeModel(QString checkPath, AppSettings settings)
{
    if (model)
        await(model->shutdown());
    model = std::make_unique<AppModel>(collaborators(checkPath));
    await(model->login(QString::fromLatin1(member), QString::fromLatin1(password), false));
    EXPECT_TRUE(model->membershipActive()) << model->authenticationErrorMessage().value_or(QString()).toStdString();
    EXPECT_TRUE(model->officialLineReady());
    importSettings(*model, settings);
    before = services();
    return *model;
}

AppModel &ModelWorld::connectedModel(AppSettings settings)
{
    AppModel &m = makeModel(QStringLiteral("/generate_204"), std::move(settings));
    await(m.connect());
    EXPECT_TRUE(m.isConnected()) << m.statusMessage().toStdString() << " / "
                                 << m.alertMessage().value_or(QString()).toStdString();
    return m;
}

void ModelWorld::expectRestored(AppModel &m)
{
    EXPECT_FALSE(m.isConnected());
    EXPECT_FALSE(m.isCoreRunning());
    EXPECT_FALSE(Peer::core(m).isRunning());
    EXPECT_EQ(services(), before);
    EXPECT_FALSE(QFile::exists(AppPaths::proxyBackup()));
}

nlohmann::json ModelWorld::services() const
{
    nlohmann::json effective = nlohmann::json::array();
    for (nlohmann::json service : helper->state().value("services", nlohmann::json::array())) {
        for (const char *kind : { "web", "secureWeb", "socks" }) {
            nlohmann::json &endpoint = service[kind];
            if (!endpoint.value("enabled", false))
                endpoint = { { "enabled", false } };
        }
        effective.push_back(service);
    }
    return effective;
}

bool ModelWorld::everyServicePointsAt(qint64 port) const
{
    for (const nlohmann::json &service : services()) {
        if (!service.value("enabled", true))
            continue;
        for (const char *kind : { "web", "secureWeb", "socks" }) {
            const nlohmann::json &endpoint = service.at(kind);
            if (!endpoint.value("enabled", false) || endpoint.value("server", "") != "127.0.0.1"
                || endpoint.value("port", 0) != port)
                return false;
        }
    }
    return true;
}

bool ModelWorld::notificationsShown(int count, int limitMs)
{
    return eventually([&] { return notificationServer->shown().size() >= count; }, limitMs);
}

QString ModelWorld::kernelValue(const QString &path, const QString &key)
{
    const QByteArray body
        = await(Peer::core(*model).controller(path, QByteArrayLiteral("GET"), std::nullopt, model->settings()));
    return QJsonDocument::fromJson(body).object().value(key).toString();
}

QString ModelWorld::selectedInKernel()
{
    return kernelValue(
        QStringLiteral("proxies/") + MihomoManager::path(QStringLiteral("维拉网络")), QStringLiteral("now"));
}

void killKernelNow(qint64 pid)
{
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    const std::string stat = "/proc/" + std::to_string(pid) + "/stat";
    for (int i = 0; i < 2000; ++i) {
        std::ifstream file(stat);
        std::string line;
        std::getline(file, line);
        if (line.find(") Z ") != std::string::npos)
            return;
        ::usleep(1000);
    }
}

} // namespace veyra::test
