#include "PrivilegedProxyClient.h"
#include "SysproxyTestSupport.h"

#include "Errors.h"
#include "TestSupport.h"

#include <QCoroTimer>

using namespace veyra;
using namespace std::chrono_literals;
using test::failureOf;

namespace {

const ipc::CommandList oneLine = { { "/usr/sbin/networksetup", "-setwebproxy", "Wi-Fi", "127.0.0.1", "7890" } };

} // namespace

// Grammar and size are checked before connecting; a missing socket is not waited for. (The
// helper's failure texts and one request per enable are the proxy manager's tests.)
TEST(PrivilegedProxyClientIntegration, ChecksBeforeConnecting)
{
    test::HelperHarness helper;
    PrivilegedProxyClient client(helper.socketPath());
    EXPECT_EQ(failureOf(client.execute({})), QStringLiteral("代理命令数量无效。"));
    ipc::CommandLine bypass = { "/usr/sbin/networksetup", "-setproxybypassdomains", "Wi-Fi" };
    bypass.resize(13, std::string(200, 'd'));
    EXPECT_EQ(
        failureOf(client.execute(ipc::CommandList(128, bypass))), QStringLiteral("系统代理请求超过安全大小限制。"));
    EXPECT_EQ(helper.requests(), 0);

    // Were the missing socket waited for, the reply time-out would end this, as a time-out.
    PrivilegedProxyClient missing(helper.socketPath() + QStringLiteral(".absent"), std::chrono::hours(1));
    EXPECT_THROW(test::await(missing.execute(oneLine)), SystemError);
}

// The held request is answered after the client gave up; that late reply resumes nothing.
TEST(PrivilegedProxyClientIntegration, GivesUpWithoutAReplyAndIgnoresALateOne)
{
    test::HelperHarness helper;
    helper.hold();
    PrivilegedProxyClient client(helper.socketPath(), 300ms);
    EXPECT_EQ(failureOf(client.execute(oneLine)), QStringLiteral("后台网络服务响应超时。"));
    helper.release();
    test::await([]() -> QCoro::Task<void> { co_await QCoro::sleepFor(200ms); }());
    helper.failOn(QStringLiteral("-setwebproxy"), 1, QStringLiteral("第二次"));
    EXPECT_EQ(failureOf(client.execute(oneLine)), QStringLiteral("第二次")) << "the late reply resumed nothing";
}
