#include "AppModel.h"
#include "AppModelTestPeer.h"
#include "AppPaths.h"
#include "KernelTestSupport.h"
#include "SettingsStore.h"
#include "TestSupport.h"

#include <functional>

using namespace veyra;
using namespace veyra::test;

namespace {

constexpr qint64 GB = 1024LL * 1024 * 1024;

Membership membership(bool active, const char *planId = "", std::optional<qint64> devices = std::nullopt,
    const char *expiresAt = "", std::optional<bool> lifetime = std::nullopt)
{
    Membership made;
    made.active = active;
    if (*planId)
        made.planId = QString::fromUtf8(planId);
    made.deviceLimit = devices;
    if (*expiresAt)
        made.expiresAt = QString::fromUtf8(expiresAt);
    made.lifetime = lifetime;
    return made;
}

Plan plan(const QString &id, std::optional<qint64> traffic, std::optional<qint64> devices = std::nullopt)
{
    Plan p;
    p.id = id;
    p.name = "月度会员";
    p.trafficBytes = traffic;
    p.deviceLimit = devices;
    return p;
}

// Opens the workflow setters so the derived values can be driven directly.
class Model : public AppModel {
public:
    using AppModel::recordSpeed, AppModel::setIsConnected, AppModel::setIsTesting, AppModel::setNodes,
        AppModel::setObservedTrafficUsedBytes, AppModel::setOfficialLineReady, AppModel::setServicePlans,
        AppModel::setSettings, AppModel::setUser;

    void signIn(std::optional<Membership> held)
    {
        AccountUser user;
        user.account = "13800000000";
        user.membership = std::move(held);
        setUser(user);
    }
    void connectWithDelays(std::initializer_list<std::pair<const char *, int>> delays)
    {
        QList<NodeItem> list;
        for (const auto &[name, delay] : delays)
            list.append(NodeItem { name, "", "", delay, "veyra_official" });
        setNodes(list);
        setIsConnected(true);
    }
    void chooseManually(const QString &node)
    {
        AppSettings manual = settings();
        manual.smartSelection = false;
        manual.selectedNode = node;
        setSettings(manual);
    }
};

using Text = QString (AppModel::*)() const;
const Text quality = &AppModel::connectionQualityText, activeNode = &AppModel::activeNodeName,
           symbol = &AppModel::menuBarSystemImage, status = &AppModel::membershipStatusText,
           planName = &AppModel::membershipPlanText, line = &AppModel::officialLineStatusText,
           devices = &AppModel::deviceLimitText, expiry = &AppModel::membershipExpiryText;
using Stage = std::function<void(Model &)>;

Stage memberAt(int delay)
{
    return [delay](Model &m) {
        m.signIn(membership(true));
        m.connectWithDelays({ { "香港 01", delay } });
    };
}

// Connected over three nodes (the Tokyo node's preference takes 50 ms off), then a manual choice.
Stage choosing(const char *node)
{
    return [node](Model &m) {
        m.connectWithDelays({ { "香港 01", 180 }, { "veyra-aws-tokyo-01", 120 }, { "新加坡 01", -1 } });
        if (node)
            m.chooseManually(QString::fromUtf8(node));
    };
}

Stage member(Membership held, QList<Plan> plans = {})
{
    return [held, plans](Model &m) {
        m.signIn(held);
        m.setServicePlans(plans);
    };
}

} // namespace

TEST(AppModel, DerivedTextsFollowTheState)
{
    const auto busy = [](Model &m, std::optional<Membership> held) {
        m.setIsConnected(true);
        m.setIsTesting(true);
        if (held)
            m.signIn(held);
    };
    const QString day = QDateTime(QDate(2026, 12, 31), QTime(12, 0), Qt::UTC).toLocalTime().toString("yyyy年M月d日");
    const struct {
        const char *name;
        Stage stage;
        std::vector<std::pair<Text, QString>> texts;
    } cases[] = {
        { "signed out", [](Model &) {},
            { { quality, "未连接" }, { activeNode, "智能优选" }, { status, "登录后查看会员权益" },
                { planName, "未开通" }, { line, "登录后自动获取官方线路" }, { devices, "设备数以后台为准" },
                { expiry, "尚未登录" } } },
        { "signed out, busy", [&](Model &m) { busy(m, std::nullopt); }, { { symbol, "person.crop.circle" } } },
        { "no membership, busy", [&](Model &m) { busy(m, Membership {}); },
            { { symbol, "lock.fill" }, { status, "当前没有有效会员" }, { planName, "未开通" },
                { line, "开通会员后自动获取官方线路" }, { expiry, "有效期由后台确认" } } },
        { "member, busy", [&](Model &m) { busy(m, membership(true, "monthly")); },
            { { symbol, "speedometer" }, { status, "会员权益已生效" }, { planName, "已开通" },
                { line, "等待后台下发官方线路" } } },
        { "member, disconnected", member(membership(true)), { { quality, "未连接" }, { symbol, "network.slash" } } },
        { "99 ms", memberAt(99), { { quality, "优秀 · 99 ms" }, { symbol, "network.badge.shield.half.filled" } } },
        { "100 ms", memberAt(100), { { quality, "良好 · 100 ms" } } },
        { "249 ms", memberAt(249), { { quality, "良好 · 249 ms" }, { symbol, "network.badge.shield.half.filled" } } },
        { "250 ms", memberAt(250), { { quality, "较慢 · 250 ms" }, { symbol, "exclamationmark.triangle.fill" } } },
        { "unmeasured", memberAt(-1), { { quality, "等待测速" }, { symbol, "network.badge.shield.half.filled" } } },
        { "smart choice", choosing(nullptr), { { quality, "优秀 · 70 ms" } } },
        { "manual choice", choosing("香港 01"), { { quality, "良好 · 180 ms" }, { activeNode, "香港 01" } } },
        { "manual choice unmeasured", choosing("新加坡 01"), { { quality, "等待测速" } } },
        { "manual choice gone", choosing("已下线节点"), { { quality, "优秀 · 70 ms" } } },
        { "manual without a choice", [](Model &m) { m.chooseManually(""); }, { { activeNode, "尚未选择" } } },
        { "the plan's name and devices",
            member(membership(true, "monthly"), { plan("yearly", 1), plan("monthly", 100 * GB, 3) }),
            { { planName, "月度会员" }, { devices, "最多 3 台设备" } } },
        { "the membership's devices first", member(membership(true, "monthly", 5), { plan("monthly", 100 * GB, 3) }),
            { { devices, "最多 5 台设备" } } },
        { "line delivered", [](Model &m) { m.setOfficialLineReady(true); }, { { line, "官方线路已安全下发" } } },
        { "expiry", member(membership(true, "", {}, "2026-12-31T12:00:00Z")), { { expiry, "有效期至 " + day } } },
        { "lifetime", member(membership(true, "", {}, "2026-12-31T12:00:00Z", true)), { { expiry, "长期有效" } } },
        // A date without a time is not an internet date-time.
        { "expiry without a time", member(membership(true, "", {}, "2026-12-31")), { { expiry, "有效期由后台确认" } } },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Model model;
        c.stage(model);
        for (const auto &[text, expected] : c.texts)
            EXPECT_EQ((model.*text)().toStdString(), expected.toStdString());
    }
}

TEST(AppModel, SpeedHistoryKeepsTheLastMinuteOldestFirstAndEndsWithTheConnection)
{
    Model model;
    model.setIsConnected(true);
    int changes = 0;
    QObject::connect(&model, &AppModel::speedChanged, [&] { ++changes; });
    // A minute and one second of samples; a negative rate from the kernel counts as nothing.
    for (qint64 second = 1; second <= 61; ++second)
        model.recordSpeed({ second * 10, second == 61 ? -5 : second });
    EXPECT_EQ(changes, 61);
    ASSERT_EQ(model.speedHistory().size(), 60);
    EXPECT_EQ(model.speedHistory().first(), (TrafficRateSample { 20, 2 }));
    EXPECT_EQ(model.speedHistory()[58], (TrafficRateSample { 600, 60 }));
    EXPECT_EQ(model.currentSpeed(), (TrafficRateSample { 610, 0 }));
    model.setIsConnected(false);
    EXPECT_TRUE(model.speedHistory().isEmpty());
    EXPECT_EQ(model.currentSpeed(), std::nullopt);
    EXPECT_EQ(changes, 62);
}

TEST(AppModel, TrafficUsageTakesTheLargerKnownCount)
{
    Model model;
    EXPECT_EQ(model.trafficUsage().summaryText(), "尚无流量数据");
    Membership held = membership(true, "monthly");
    held.trafficUsedBytes = 2 * GB;
    model.signIn(held);
    EXPECT_EQ(model.trafficUsage().summaryText(), "已用 2 GB · 套餐额度同步中");
    EXPECT_EQ(model.trafficProgress(), std::nullopt);
    model.setServicePlans({ plan("monthly", 10 * GB) });
    for (const auto &[observed, progress] : { std::pair { 3 * GB, 0.3 }, { 1 * GB, 0.2 }, { 12 * GB, 1.0 } }) {
        model.setObservedTrafficUsedBytes(observed);
        EXPECT_DOUBLE_EQ(model.trafficProgress().value_or(-1), progress) << observed;
    }
    model.setObservedTrafficUsedBytes(3 * GB);
    EXPECT_EQ(model.trafficUsage().summaryText(), "已用 3 GB / 10 GB");
    model.setServicePlans({ plan("monthly", std::nullopt) });
    EXPECT_EQ(model.trafficUsage().summaryText(), "已用 3 GB · 不限流量");
    EXPECT_EQ(model.trafficProgress(), std::nullopt);
}

class ModelBookkeeping : public DataFolderTest {
protected:
    void SetUp() override
    {
        DataFolderTest::SetUp();
        AppPaths::prepare();
    }
    void member(std::optional<qint64> serverBytes, const QString &expiresAt)
    {
        Membership held = membership(true, "monthly", {}, expiresAt.toUtf8().constData());
        held.trafficUsedBytes = serverBytes;
        model.signIn(held);
    }
    std::optional<qint64> stored(const QString &expiresAt)
    {
        await(model.flushStorage());
        return TrafficUsageStore::load({ "13800000000", QStringLiteral("monthly"), expiresAt });
    }

    Model model;
};

TEST_F(ModelBookkeeping, WithinOnePeriodTheFigureOnlyGrowsAndANewPeriodStartsAfresh)
{
    const QString period = QStringLiteral("2027-01-07T00:00:00Z");
    member(3 * GB, period);
    Peer::mergeTrafficUsageSources(model);
    EXPECT_EQ(model.observedTrafficUsedBytes(), 3 * GB);
    EXPECT_EQ(stored(period), 3 * GB);

    // Local counting got further; another run of this app stored more still.
    Peer::applyAbsoluteTrafficUsage(model, 4 * GB);
    EXPECT_EQ(stored(period), 4 * GB);
    AppPaths::write(TrafficUsageRecord { { "13800000000", QStringLiteral("monthly"), period }, 5 * GB,
                        QDateTime::currentDateTimeUtc() }
                        .toJson(),
        AppPaths::trafficUsage());
    Peer::mergeTrafficUsageSources(model);
    EXPECT_EQ(model.observedTrafficUsedBytes(), 5 * GB);
    Peer::applyAbsoluteTrafficUsage(model, 1 * GB);
    EXPECT_EQ(model.observedTrafficUsedBytes(), 5 * GB) << "a smaller total from the provider counted";

    // A renewed membership is a new period: the local figure does not follow it.
    const QString renewed = QStringLiteral("2027-02-07T00:00:00Z");
    member(3 * GB, renewed);
    Peer::mergeTrafficUsageSources(model);
    EXPECT_EQ(model.observedTrafficUsedBytes(), 3 * GB);
    EXPECT_EQ(stored(renewed), 3 * GB);
    EXPECT_EQ(stored(period), std::nullopt);

    // Signed out: nothing is known, and a provider figure has nobody to belong to.
    model.setUser(std::nullopt);
    Peer::mergeTrafficUsageSources(model);
    EXPECT_EQ(model.observedTrafficUsedBytes(), std::nullopt);
    Peer::applyAbsoluteTrafficUsage(model, 9 * GB);
    EXPECT_EQ(model.observedTrafficUsedBytes(), std::nullopt);
    EXPECT_EQ(stored(renewed), 3 * GB);
}

TEST_F(ModelBookkeeping, ChangesAreSignalledOnceAndOnlyWhenTheyHappen)
{
    int states = 0, settings = 0, statuses = 0, nodes = 0;
    QObject::connect(&model, &AppModel::stateChanged, [&] { ++states; });
    QObject::connect(&model, &AppModel::settingsChanged, [&] { ++settings; });
    QObject::connect(&model, &AppModel::statusMessageChanged, [&] { ++statuses; });
    QObject::connect(&model, &AppModel::nodesChanged, [&] { ++nodes; });
    model.setNodes({});
    model.setNodes({ NodeItem { "a", "", "", 1, "" } });
    model.setNodes({ NodeItem { "a", "", "", 1, "" } });
    EXPECT_EQ(nodes, 1);
    EXPECT_EQ(states, 1);

    // One step changing several values re-renders once.
    AppSettings imported;
    imported.mixedPort = 8100;
    const QString file = root() + "/../import.json";
    AppPaths::write(imported.toJson(), file);
    await(model.importSettings(file));
    EXPECT_EQ(model.statusMessage(), "设置已导入");
    EXPECT_EQ(settings, 1);
    EXPECT_EQ(statuses, 1);
    EXPECT_EQ(states, 2);
}

TEST_F(ModelBookkeeping, OverlappingSettingsChangesAllSurviveInTheModelAndTheFile)
{
    // The second switch is flipped before the first one's write is done.
    const bool smart = model.settings().smartSelection;
    QCoro::Task<> first = model.setSmartSelection(!smart);
    QCoro::Task<> second = model.updateProxyMode(ConnectionMode::global);
    await(std::move(first));
    await(std::move(second));
    EXPECT_EQ(model.settings().smartSelection, !smart);
    EXPECT_EQ(model.settings().proxyMode, ConnectionMode::global);
    EXPECT_EQ(await(Peer::settingsStore(model).loadSettings()), model.settings());
}

TEST(BackgroundTask, CancellingWakesAPendingSleepFromTheEventLoop)
{
    auto token = std::make_shared<CancellationToken>();
    bool ended = false;
    auto loop = [](CancellationTokenPtr token, bool *ended) -> QCoro::Task<> {
        while (!token->isCancelled()) {
            CancellableSleep pause(token, std::chrono::hours(1));
            co_await pause;
        }
        *ended = true;
    };
    BackgroundTask task(loop(token, &ended), token);
    QCoreApplication::processEvents();
    EXPECT_FALSE(task.isFinished()) << "a sleep nobody cancelled ended by itself";
    task.cancel();
    EXPECT_FALSE(ended) << "the loop was resumed inside cancel()";
    EXPECT_TRUE(eventually([&] { return task.isFinished(); }));
    EXPECT_TRUE(ended);
}
