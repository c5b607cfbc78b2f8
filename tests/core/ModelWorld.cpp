#include "ModelWorld.h"

#include "AppPaths.h"
#include "KernelTestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>

namespace veyra::test {

void ModelWorld::SetUp()
{
    DataFolderTest::SetUp();
    ASSERT_TRUE(fixtures.isValid());
    keyring = std::make_unique<KeyringSession>();
    ASSERT_TRUE(keyring->running());
    notificationServer = std::make_unique<NotificationServer>();
    ASSERT_TRUE(notificationServer->registered());

    // A certificate for the line's made-up public name; the kernel trusts it through its wrapper.
    const QString certificate = fixtures.filePath(QStringLiteral("line.pem"));
    const QString key = fixtures.filePath(QStringLiteral("line.key"));
    const ProgramResult made = await(runProgram(QStringLiteral("/usr/bin/openssl"),
        { QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
            QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
            QStringLiteral("-keyout"), key, QStringLiteral("-out"), certificate, QStringLiteral("-days"),
            QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=%1").arg(QLatin1String(lineHost)),
            QStringLiteral("-addext"), QStringLiteral("subjectAltName=DNS:%1").arg(QLatin1String(lineHost)) }));
    ASSERT_EQ(made.exitCode, 0) << made.standardError.constData();
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(QSslCertificate::fromPath(certificate).value(0));
    tls.setPrivateKey(QSslKey(readBytes(key), QSsl::Ec));
    origin = std::make_unique<LocalHttpServer>(tls);

    ASSERT_TRUE(node.listen(QHostAddress::LocalHost, 0));
    const QByteArray port = QByteArray::number(node.port());
    origin->route("/sub.yaml",
        { 200, { { "subscription-userinfo", "upload=1000; download=2000; total=107374182400; expire=1900000000" } },
            "proxies:\n"
            "  - name: \"东京 01\"\n    type: socks5\n    server: 127.0.0.1\n    port: "
                + port + "\n  - name: \"香港 02\"\n    type: socks5\n    server: 127.0.0.1\n    port: " + port
                + "\n" });
    check.route("/generate_204", { 204, {}, {} });
    check.route("/payload", { 200, {}, QByteArray(512 * 1024, 'p') });
    check.route("/moved", { 302, { { "Location", "http://127.0.0.1:1/" } }, {} });
    lineURL = QStringLiteral("https://%1:%2/sub.yaml").arg(QLatin1String(lineHost)).arg(origin->port());

    resources = fixtures.filePath(QStringLiteral("resources"));
    QDir().mkpath(resources);
    installScriptResource(resources,
        "#!/bin/sh\nexec '" + (bundledKernelDirectory() + QStringLiteral("/mihomo")).toUtf8()
            + "' --trust-certificate '" + certificate.toUtf8() + "' --map-host " + QByteArray(lineHost)
            + "=127.0.0.1 \"$@\"\n");

    helper = std::make_unique<HelperHarness>();
}

void ModelWorld::TearDown()
{
    if (model)
        await(model->shutdown());
    model.reset();
    helper.reset();
    notificationServer.reset();
    keyring.reset();
    DataFolderTest::TearDown();
}

WorldSeams ModelWorld::seams(const QString &checkPath) const
{
    return { resources, check.url(checkPath.toUtf8()), helper->socketPath(),
        QStringLiteral(VEYRA_NETWORKSETUP_EXECUTABLE), fixtures.filePath(QStringLiteral("defaults.ini")),
        QStringLiteral("veyra-test-notification-client"), std::nullopt };
}

AppCollaborators ModelWorld::collaborators(const QString &checkPath)
{
    return collaboratorsFor(seams(checkPath));
}

MemberModel &ModelWorld::makeModel(QString checkPath)
{
    if (model)
        await(model->shutdown());
    model = std::make_unique<MemberModel>(collaborators(checkPath));
    model->becomeMember();
    AppSettings settings = settingsWithFreePorts();
    settings.showNotifications = true;
    model->setSettings(settings);
    EXPECT_TRUE(await(model->officialLineStore().synchronize(lineURL)));
    return *model;
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

QByteArray ModelWorld::stateBytes() const
{
    return readBytes(helper->statePath());
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

QString ModelWorld::selectedInKernel()
{
    const QByteArray body
        = await(model->core().controller(QStringLiteral("proxies/") + MihomoManager::path(QStringLiteral("维拉网络")),
            QByteArrayLiteral("GET"), std::nullopt, model->settings()));
    return QJsonDocument::fromJson(body).object().value(QStringLiteral("now")).toString();
}

QString ModelWorld::kernelMode()
{
    const QByteArray body = await(
        model->core().controller(QStringLiteral("configs"), QByteArrayLiteral("GET"), std::nullopt, model->settings()));
    return QJsonDocument::fromJson(body).object().value(QStringLiteral("mode")).toString();
}

} // namespace veyra::test
