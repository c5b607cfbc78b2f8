#include "ConfigCompiler.h"
#include "KernelTestSupport.h"
#include "LocalHttpServer.h"
#include "MihomoManager.h"
#include "TestSupport.h"

#include <QCoroNetworkReply>
#include <QCoroProcess>
#include <QCoroTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QTemporaryDir>

#include <functional>
#include <memory>

namespace veyra {
namespace {

using namespace veyra::test;
using namespace std::chrono_literals;

const QString secret = QStringLiteral("https-provider-secret");

// The body of a controller GET, or nothing while the controller is not up yet.
QCoro::Task<std::optional<QByteArray>> controllerGet(quint16 port, QString path)
{
    QNetworkAccessManager network;
    network.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(port) + path));
    request.setRawHeader("Authorization", "Bearer " + secret.toUtf8());
    request.setTransferTimeout(2000);
    std::unique_ptr<QNetworkReply> reply(network.get(request));
    co_await qCoro(reply.get()).waitForFinished();
    if (reply->error() != QNetworkReply::NoError)
        co_return std::nullopt;
    co_return reply->readAll();
}

// The stand-in kernel fetching its provider over https from a server whose certificate this
// test makes with openssl. The kernel trusts that certificate only when it is named with the
// stand-in's own --trust-certificate option; certificate checks are never switched off.
class HttpsProviderIntegration : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        certificate = home.filePath(QStringLiteral("origin.pem"));
        const QString key = home.filePath(QStringLiteral("origin.key"));
        const ProgramResult made = await(runProgram(QStringLiteral("/usr/bin/openssl"),
            QStringLiteral("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=127.0.0.1 "
                           "-addext subjectAltName=IP:127.0.0.1")
                    .split(u' ')
                + QStringList { QStringLiteral("-keyout"), key, QStringLiteral("-out"), certificate }));
        ASSERT_EQ(made.exitCode, 0) << made.standardError.constData();

        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificate(QSslCertificate::fromPath(certificate).value(0));
        tls.setPrivateKey(QSslKey(readBytes(key), QSsl::Ec));
        ASSERT_FALSE(tls.localCertificate().isNull());
        ASSERT_FALSE(tls.privateKey().isNull());
        origin = std::make_unique<LocalHttpServer>(tls);
        origin->route("/sub.yaml",
            { 200, { { "subscription-userinfo", "upload=11; download=22; total=1000; expire=1900000000" } },
                "proxies:\n  - name: \"新加坡 01\"\n    type: socks5\n    server: 127.0.0.1\n    port: 9\n" });
        origin->route("/generate_204", { 204, {}, {} });

        settings = settingsWithFreePorts();
        configuration = home.filePath(QStringLiteral("config.yaml"));
        writeBytes(configuration,
            ConfigCompiler::compile({ QStringLiteral("veyra_official"), origin->url("/sub.yaml"),
                                        QStringLiteral("Clash.Meta/Veyra-test"), QStringLiteral("device-7"), 3600 },
                settings, secret, origin->url("/generate_204"))
                .toUtf8());
    }

    void TearDown() override
    {
        if (kernel.state() != QProcess::NotRunning) {
            kernel.terminate();
            if (!kernel.waitForFinished(3000)) {
                kernel.kill();
                kernel.waitForFinished(1000);
            }
        }
    }

    // Starts the stand-in and returns GET providers/proxies once `settled` says the provider
    // download has run its course (the controller opens at once, the provider loads behind it).
    QByteArray runKernel(QStringList options, const std::function<bool(const QByteArray &providers)> &settled)
    {
        kernel.setProgram(bundledKernelDirectory() + QStringLiteral("/mihomo"));
        kernel.setArguments(
            options + QStringList { QStringLiteral("-d"), home.path(), QStringLiteral("-f"), configuration });
        kernel.setProcessChannelMode(QProcess::MergedChannels);
        kernel.start();
        // One deadline for the whole wait, whatever each probe takes.
        QElapsedTimer clock;
        clock.start();
        QByteArray providers;
        while (clock.elapsed() < 15'000 && kernel.state() != QProcess::NotRunning) {
            if (const std::optional<QByteArray> answer = await(
                    controllerGet(static_cast<quint16>(settings.controllerPort), QStringLiteral("providers/proxies")),
                    5s)) {
                providers = *answer;
                kernelOutput += kernel.readAll();
                if (settled(providers))
                    return providers;
            }
            await(QCoro::sleepFor(100ms));
        }
        kernelOutput += kernel.readAll();
        ADD_FAILURE() << "the provider did not settle within 15 s: " << kernelOutput.constData();
        return providers;
    }

    QTemporaryDir home;
    QString certificate;
    QString configuration;
    std::unique_ptr<LocalHttpServer> origin;
    AppSettings settings;
    QProcess kernel;
    QByteArray kernelOutput;
};

TEST_F(HttpsProviderIntegration, DownloadsFromAServerItWasToldToTrust)
{
    const QByteArray providers = runKernel({ QStringLiteral("--trust-certificate"), certificate },
        [](const QByteArray &answer) { return answer.contains("subscriptionInfo"); });
    EXPECT_EQ(MihomoManager::parseProviderTrafficUsage(providers, QStringLiteral("veyra_official")), 11 + 22)
        << providers.constData();
    ASSERT_FALSE(origin->requests().isEmpty());
    const LocalHttpServer::Request &download = origin->requests().first();
    EXPECT_EQ(download.target, "/sub.yaml");
    EXPECT_TRUE(readBytes(home.filePath(QStringLiteral("providers/veyra_official.yaml"))).contains("新加坡 01"));

    const std::optional<QByteArray> group = await(controllerGet(static_cast<quint16>(settings.controllerPort),
        QStringLiteral("proxies/") + MihomoManager::path(QStringLiteral("维拉网络"))));
    ASSERT_TRUE(group);
    EXPECT_TRUE(group->contains("新加坡 01")) << group->constData();
}

TEST_F(HttpsProviderIntegration, RefusesTheSameServerWithoutBeingToldToTrustIt)
{
    const QByteArray providers
        = runKernel({}, [this](const QByteArray &) { return kernelOutput.contains("download failed"); });
    EXPECT_EQ(MihomoManager::parseProviderTrafficUsage(providers, QStringLiteral("veyra_official")), std::nullopt)
        << providers.constData();
    EXPECT_TRUE(origin->requests().isEmpty()) << "a request went to a server whose certificate is not trusted";
    EXPECT_FALSE(QFileInfo::exists(home.filePath(QStringLiteral("providers/veyra_official.yaml"))));
    EXPECT_TRUE(kernelOutput.contains("download failed"));
}

TEST_F(HttpsProviderIntegration, AnOptionNamingNoCertificateIsRefused)
{
    const QString empty = home.filePath(QStringLiteral("empty.pem"));
    writeBytes(empty, "not a certificate\n");
    const ProgramResult result = await(runProgram(bundledKernelDirectory() + QStringLiteral("/mihomo"),
        { QStringLiteral("--trust-certificate"), empty, QStringLiteral("-t"), QStringLiteral("-d"), home.path(),
            QStringLiteral("-f"), configuration }));
    EXPECT_NE(result.exitCode, 0);
    EXPECT_TRUE(result.standardError.contains("no certificate in")) << result.standardError.constData();
}

} // namespace
} // namespace veyra
