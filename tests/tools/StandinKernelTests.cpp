#include "ConfigCompiler.h"
#include "KernelTestSupport.h"
#include "TestSupport.h"

#include <QTemporaryDir>

namespace veyra {
namespace {

using namespace veyra::test;

// The stand-in kernel's own configuration check, which the manager relies on to refuse a
// configuration before it is run: the generated one passes, each fault is named.
TEST(StandinKernelIntegration, AcceptsTheGeneratedConfigurationAndRefusesWhatItCannotRun)
{
    QTemporaryDir home;
    const QByteArray generated
        = ConfigCompiler::compile({ QStringLiteral("veyra_official"), QStringLiteral("http://127.0.0.1:9/sub"),
                                      QStringLiteral("ua"), QStringLiteral("device"), 3600 },
            AppSettings {}, QStringLiteral("secret"))
              .toUtf8();
    const auto check = [&](const QByteArray &configuration) {
        writeBytes(home.filePath(QStringLiteral("config.yaml")), configuration);
        return await(runProgram(bundledKernelDirectory() + QStringLiteral("/mihomo"),
            { QStringLiteral("-t"), QStringLiteral("-d"), home.path(), QStringLiteral("-f"),
                home.filePath(QStringLiteral("config.yaml")) }));
    };
    const ProgramResult accepted = check(generated);
    EXPECT_EQ(accepted.exitCode, 0) << accepted.standardError.constData();
    const std::tuple<QByteArray, QByteArray, const char *> refused[] = {
        { "mode: rule", "mode: turbo", "unknown mode" },
        { "socks-port: 7891", "socks-port: 7890", "port 7890 is used by both" },
        { "    - veyra_official\nrules:", "    - nowhere\nrules:", "provider nowhere not found" },
        { "MATCH,维拉网络", "MATCH,elsewhere", "target elsewhere not found" },
        { "rules:", "rules: [unclosed\n", "yaml:" },
    };
    for (const auto &[from, to, reason] : refused) {
        const ProgramResult result = check(QByteArray(generated).replace(from, to));
        EXPECT_NE(result.exitCode, 0) << reason;
        EXPECT_TRUE(result.standardError.contains(reason)) << reason << ": " << result.standardError.constData();
    }
}

} // namespace
} // namespace veyra
