#include "ChildProcess.h"
#include "Errors.h"
#include "TestSupport.h"

namespace veyra {
namespace {

using namespace std::chrono_literals;
using test::await;

ChildProcessResult runShell(const char *script, ChildProcessOptions options)
{
    return await(
        runChildProcess(QStringLiteral("/bin/sh"), { QStringLiteral("-c"), QString::fromLatin1(script) }, options));
}

TEST(ChildProcessIntegration, CollectsBothStreamsCappedTheExitStatusAndKillsAChildPastItsTime)
{
    // Far more than a pipe holds on each stream: a reader that drained only after the exit
    // would never see it end.
    ChildProcessOptions options;
    options.outputCap = 1000;
    const ChildProcessResult result
        = runShell("i=0; while [ $i -lt 20000 ]; do echo out$i; echo err$i >&2; i=$((i+1)); done; exit 3", options);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_FALSE(result.succeeded());
    EXPECT_EQ(result.standardOutput.size(), 1000);
    EXPECT_TRUE(result.standardOutput.startsWith("out0\nout1\n"));
    EXPECT_EQ(result.standardError.size(), 1000);
    EXPECT_TRUE(result.standardError.startsWith("err0\n"));
    EXPECT_TRUE(runShell("exit 0", {}).succeeded());
    // A program that cannot start is the platform's error, not an exit status.
    EXPECT_THROW(await(runChildProcess(QStringLiteral("/nonexistent/tool"), {})), SystemError);

    options.timeout = 300ms;
    const ChildProcessResult late = runShell("echo begun; exec sleep 30", options);
    EXPECT_TRUE(late.timedOut);
    EXPECT_FALSE(late.succeeded());
    EXPECT_EQ(late.standardOutput, "begun\n");
}

} // namespace
} // namespace veyra
