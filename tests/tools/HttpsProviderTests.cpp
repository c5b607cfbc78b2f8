#include "ConfigCompiler.h"
#include "KernelTestSupport.h"
#include "LocalHttpServer.h"
#include "MihomoManager.h"
#include "TestSupport.h"

#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QSslConfiguration>
#include <QSslKey>
#include <QTemporaryDir>

namespace veyra {
namespace {

using namespace veyra::test;

const QString secret = QStringLiteral("https-provider-secret");

// The stand-in kernel fetching its provider over https from a server whose certificate this
// test makes with openssl. The kernel trusts that certificate only when it is named with the
// stand-in's own --trust-certificate option; certificate checks are never switched off.
TEST(HttpsProviderIntegration, RefusesTheServerUntilToldToTrustItThenDownloads)
{
    QTemporaryDir home;
    const QString certificate = home.filePath(QStringLiteral("origin.pem"));
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
    LocalHttpServer origin(tls);
    origin.route("/sub.yaml",
        { 200, { { "subscription-userinfo", "upload=11; download=22; total=1000; expire=1900000000" } },
            "proxies:\n  - name: \"新加坡 01\"\n    type: socks5\n    server: 127.0.0.1\n    port: 9\n" });
    origin.route("/generate_204", { 204, {}, {} });
    const AppSettings settings = settingsWithFreePorts();
    const QString configuration = home.filePath(QStringLiteral("config.yaml"));
    writeBytes(configuration,
        ConfigCompiler::compile({ QStringLiteral("veyra_official"), origin.url("/sub.yaml"),
                                    QStringLiteral("Clash.Meta/Veyra-test"), QStringLiteral("device-7"), 3600 },
            settings, secret, origin.url("/generate_204"))
            .toUtf8());

    QProcess kernel;
    QByteArray output;
    const auto stop = [&] {
        kernel.kill();
        kernel.waitForFinished(3000);
    };
    const auto atTheEnd = qScopeGuard(stop);
    // GET providers/proxies once `settled` says the download has run its course (the controller
    // opens at once, the provider loads behind it).
    const auto run = [&](const QStringList &options, const std::function<bool(const QByteArray &)> &settled) {
        kernel.setProcessChannelMode(QProcess::MergedChannels);
        kernel.start(bundledKernelDirectory() + QStringLiteral("/mihomo"),
            options + QStringList { QStringLiteral("-d"), home.path(), QStringLiteral("-f"), configuration });
        const QStringList get { QStringLiteral("-sf"), QStringLiteral("--max-time"), QStringLiteral("2"),
            QStringLiteral("-H"), "Authorization: Bearer " + secret,
            QStringLiteral("http://127.0.0.1:%1/providers/proxies").arg(settings.controllerPort) };
        QByteArray providers;
        EXPECT_TRUE(eventually(
            [&] {
                const ProgramResult answer = await(runProgram(QStringLiteral("/usr/bin/curl"), get));
                output += kernel.readAll();
                return answer.exitCode == 0 && settled(providers = answer.standardOutput);
            },
            15'000))
            << "the provider did not settle: " << output.constData();
        return providers;
    };
    const QString official = QStringLiteral("veyra_official");
    const QString downloaded = home.filePath(QStringLiteral("providers/veyra_official.yaml"));

    QByteArray providers = run({}, [&](const QByteArray &) { return output.contains("download failed"); });
    EXPECT_EQ(MihomoManager::parseProviderTrafficUsage(providers, official), std::nullopt) << providers.constData();
    EXPECT_TRUE(origin.requests().isEmpty()) << "a request went to a server whose certificate is not trusted";
    EXPECT_FALSE(QFileInfo::exists(downloaded));
    stop();

    providers = run({ QStringLiteral("--trust-certificate"), certificate },
        [](const QByteArray &answer) { return answer.contains("subscriptionInfo"); });
    EXPECT_EQ(MihomoManager::parseProviderTrafficUsage(providers, official), 11 + 22) << providers.constData();
    EXPECT_TRUE(readBytes(downloaded).contains("新加坡 01"));
}

} // namespace
} // namespace veyra
