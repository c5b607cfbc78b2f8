#include "ConfigCompiler.h"
#include "KernelTestSupport.h"
#include "TestSupport.h"

#include <QTemporaryDir>

namespace veyra {
namespace {

using namespace veyra::test;

// The stand-in kernel's own configuration check, which the manager relies on to refuse a
// configuration before it is run.
class StandinKernelIntegration : public ::testing::Test {
protected:
    StandinKernelIntegration()
    {
        generated
            = ConfigCompiler::compile({ QStringLiteral("veyra_official"), QStringLiteral("http://127.0.0.1:9/sub"),
                                          QStringLiteral("ua"), QStringLiteral("device"), 3600 },
                AppSettings {}, QStringLiteral("secret"))
                  .toUtf8();
    }

    ProgramResult check(const QByteArray &configuration)
    {
        const QString file = home.path() + QStringLiteral("/config.yaml");
        writeBytes(file, configuration);
        return await(runProgram(bundledKernelDirectory() + QStringLiteral("/mihomo"),
            { QStringLiteral("-t"), QStringLiteral("-d"), home.path(), QStringLiteral("-f"), file }));
    }

    QByteArray replaced(const QByteArray &from, const QByteArray &to) const
    {
        QByteArray copy = generated;
        return copy.replace(from, to);
    }

    QTemporaryDir home;
    QByteArray generated;
};

TEST_F(StandinKernelIntegration, AcceptsTheGeneratedConfigurationAndRefusesWhatItCannotRun)
{
    const ProgramResult accepted = check(generated);
    EXPECT_EQ(accepted.exitCode, 0) << accepted.standardError.constData();
    EXPECT_TRUE(accepted.standardOutput.contains("test is successful"));
    const std::pair<QByteArray, const char *> refused[] = {
        { replaced("mode: rule", "mode: turbo"), "unknown mode" },
        { replaced("socks-port: 7891", "socks-port: 7890"), "port 7890 is used by both" },
        { replaced("mixed-port: 7890", "mixed-port: 70000"), "mixed-port must lie between" },
        { replaced("    - veyra_official\nrules:", "    - nowhere\nrules:"), "provider nowhere not found" },
        { replaced("      - \"智能优选\"", "      - \"missing\""), "member missing not found" },
        { replaced("MATCH,维拉网络", "MATCH,elsewhere"), "target elsewhere not found" },
        { replaced("    type: http", "    type: file"), "unsupported type" },
        { generated + "rules: [unclosed\n", "yaml:" },
    };
    for (const auto &[configuration, reason] : refused) {
        const ProgramResult result = check(configuration);
        EXPECT_NE(result.exitCode, 0) << reason;
        EXPECT_TRUE(result.standardError.contains(reason)) << reason << ": " << result.standardError.constData();
    }
}

} // namespace
} // namespace veyra
