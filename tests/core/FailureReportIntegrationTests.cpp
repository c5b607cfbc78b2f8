// Failures that must reach a user whose window is closed: a notification with the alert's
// masked sentence, and the tray's failure state until it is seen or a connect succeeds.
#include "AppModelTestPeer.h"
#include "ModelWorld.h"

#include "KernelTestSupport.h"

#include <csignal>

using namespace veyra;
using namespace veyra::test;

namespace {

struct FailureCase {
    const char *name;
    const char *checkPath;
    std::function<void(ModelWorld &, AppModel &)> provoke;
    const char *body; // what the notification says (part of it, for a platform's own text)
};
void PrintTo(const FailureCase &failure, std::ostream *out)
{
    *out << failure.name;
}

class FailureReportIntegration : public ModelWorld, public ::testing::WithParamInterface<FailureCase> {
public:
    // The fixture's helpers, for the cases' set-up.
    using ModelWorld::helper;
    using ModelWorld::simulator;
};

void connected(AppModel &m)
{
    await(m.connect());
    ASSERT_TRUE(m.isConnected()) << m.statusMessage().toStdString();
}

const FailureCase failureCases[] = {
    { "FailedConnect", "/moved", [](ModelWorld &, AppModel &m) { await(m.connect()); },
        "官方线路尚未连通，未修改系统代理。请刷新会员权益或查看诊断日志。" },
    { "KernelDied", "/generate_204",
        [](ModelWorld &, AppModel &m) {
            connected(m);
            ::kill(static_cast<pid_t>(Peer::core(m).processId()), SIGKILL);
            ASSERT_TRUE(eventually([&] { return m.alertMessage().has_value(); }, 6000));
        },
        "网络核心已异常退出，应用已自动恢复系统网络设置。" },
    // The platform's text reaches the notification masked, as it reaches the log and the alert.
    { "RestoreFailed", "/generate_204",
        [](ModelWorld &world, AppModel &m) {
            connected(m);
            static_cast<FailureReportIntegration &>(world).helper->failOn(
                QStringLiteral("-setwebproxystate"), 1, QStringLiteral("设置被锁定 token=s3cr3t-value"));
            await(m.disconnect());
        },
        "设置被锁定 token=***" },
    { "SessionExpired", "/generate_204",
        [](ModelWorld &world, AppModel &m) {
            static_cast<FailureReportIntegration &>(world).simulator->admin(
                QStringLiteral("revoke"), { { "token", Peer::api(m).token().value_or(QString()).toStdString() } });
            await(m.refreshAccount(true));
        },
        "登录状态已过期，请重新登录。" },
};

TEST_P(FailureReportIntegration, ReachesTheUserWithTheWindowClosed)
{
    const FailureCase &failure = GetParam();
    AppModel &m = makeModel(QString::fromLatin1(failure.checkPath));
    const qsizetype before = notificationServer->shown().size();
    failure.provoke(*this, m);

    const QString body = QString::fromUtf8(failure.body);
    ASSERT_TRUE(eventually([&] {
        const QStringList bodies = notificationServer->bodies().mid(before);
        return std::any_of(bodies.begin(), bodies.end(), [&](const QString &shown) { return shown.contains(body); });
    })) << notificationServer->bodies().join(u'|').toStdString();
    EXPECT_FALSE(notificationServer->bodies().join(u'|').contains(QStringLiteral("s3cr3t")));
    EXPECT_EQ(notificationServer->shown().last().title, AppModel::notificationTitle());
    EXPECT_EQ(m.connectionState(), ConnectionState::failed);

    // Seen: dismissing the alert (or signing in again, which clears it) ends the failure state.
    m.setAlertMessage(std::nullopt);
    EXPECT_NE(m.connectionState(), ConnectionState::failed);
}

INSTANTIATE_TEST_SUITE_P(Failures, FailureReportIntegration, ::testing::ValuesIn(failureCases),
    [](const ::testing::TestParamInfo<FailureCase> &info) { return std::string(info.param.name); });

class TrayStateIntegration : public ModelWorld { };

TEST_F(TrayStateIntegration, AFailureStaysUntilTheNextConnectAndConnectingShowsMeanwhile)
{
    AppModel &m = makeModel();
    EXPECT_EQ(m.connectionState(), ConnectionState::disconnected);
    check.route("/generate_204", { 503, {}, {} });
    await(m.connect());
    ASSERT_EQ(m.connectionState(), ConnectionState::failed);
    check.route("/generate_204", { 204, {}, {} });

    // Other workflows keep isBusy too; only a connect or a disconnect counts as connecting.
    QList<ConnectionState> seen;
    const QObject watching; // goes before `seen`: the fixture's shutdown still emits
    QObject::connect(&m, &AppModel::stateChanged, &watching, [&] { seen.append(m.connectionState()); });
    await(m.connect());
    EXPECT_TRUE(seen.contains(ConnectionState::connecting));
    EXPECT_EQ(m.connectionState(), ConnectionState::connected);
    seen.clear();
    await(m.updateProxyMode(ConnectionMode::global));
    ASSERT_TRUE(m.isConnected());
    EXPECT_FALSE(seen.contains(ConnectionState::connecting));
}

} // namespace
