#include "AppModel.h"
#include "AppPaths.h"
#include "Errors.h"
#include "TestSupport.h"

#include <QCoroTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QTimer>

using namespace veyra;

namespace {

// Opens the workflow setters so the derived values can be driven directly.
class Model : public AppModel {
public:
    using AppModel::setIsConnected;
    using AppModel::setIsTesting;
    using AppModel::setNodes;
    using AppModel::setObservedTrafficUsedBytes;
    using AppModel::setOfficialLineReady;
    using AppModel::recordSpeed;
    using AppModel::setServicePlans;
    using AppModel::setSettings;
    using AppModel::setUser;

    void signIn(std::optional<Membership> membership)
    {
        AccountUser user;
        user.account = "13800000000";
        user.membership = std::move(membership);
        setUser(user);
    }
    void becomeMember(std::optional<QString> planId = std::nullopt)
    {
        Membership membership;
        membership.active = true;
        membership.planId = std::move(planId);
        signIn(membership);
    }
    void connectWithDelays(std::initializer_list<std::pair<const char *, int>> delays)
    {
        QList<NodeItem> list;
        for (const auto &[name, delay] : delays)
            list.append(NodeItem { name, "", "", delay, "veyra_official" });
        setNodes(list);
        setIsConnected(true);
    }
};

Plan plan(const QString &id, std::optional<qint64> traffic, std::optional<qint64> devices = std::nullopt)
{
    Plan p;
    p.id = id;
    p.name = "月度会员";
    p.priceFen = 1990;
    p.trafficBytes = traffic;
    p.deviceLimit = devices;
    return p;
}

constexpr qint64 GB = 1024LL * 1024 * 1024;

} // namespace

TEST(AppModel, InitialState)
{
    Model model;
    EXPECT_EQ(model.selectedPage(), AppPage::dashboard);
    EXPECT_EQ(model.statusMessage(), "正在初始化…");
    EXPECT_EQ(model.settings(), AppSettings {});
    EXPECT_EQ(model.authenticationMode(), AuthenticationMode::login);
    EXPECT_EQ(model.accessState(), AppAccessState::signedOut);
    EXPECT_FALSE(model.alertMessage());
    EXPECT_EQ(model.connectionQualityText(), "未连接");
    EXPECT_EQ(model.membershipExpiryText(), "尚未登录");
    EXPECT_EQ(model.officialLineStatusText(), "登录后自动获取官方线路");
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

TEST(AppModel, NodeDisplayDelayCarriesThePreference)
{
    EXPECT_EQ((NodeItem { "  VEYRA-AWS-Tokyo-01 ", "", "", 120, "" }).displayDelay(), 70);
    EXPECT_EQ((NodeItem { "美国俄勒冈01", "", "", 80, "" }).displayDelay(), 1);
    EXPECT_EQ((NodeItem { "日本东京01", "", "", 300, "" }).displayDelay(), 250);
    EXPECT_EQ((NodeItem { "香港 02", "", "", -1, "" }).displayDelay(), std::nullopt);
    EXPECT_EQ((NodeItem { "香港 02", "", "", 0, "" }).displayDelay(), std::nullopt);
}

TEST(AppModel, QualityTextAtTheGradeBoundaries)
{
    Model model;
    model.becomeMember();
    for (auto [delay, text] : std::initializer_list<std::pair<int, const char *>> {
             { 99, "优秀 · 99 ms" }, { 100, "良好 · 100 ms" }, { 249, "良好 · 249 ms" }, { 250, "较慢 · 250 ms" } }) {
        model.connectWithDelays({ { "香港 01", delay } });
        EXPECT_EQ(model.connectionQualityText(), QString::fromUtf8(text));
    }
    model.connectWithDelays({ { "香港 01", -1 } });
    EXPECT_EQ(model.connectionQualityText(), "等待测速");
}

TEST(AppModel, CurrentDelayFollowsTheChoice)
{
    Model model;
    model.becomeMember();
    model.connectWithDelays({ { "香港 01", 180 }, { "veyra-aws-tokyo-01", 120 }, { "新加坡 01", -1 } });
    // Smart selection: the best adjusted score.
    EXPECT_EQ(model.currentDelay(), 70);

    AppSettings manual = model.settings();
    manual.smartSelection = false;
    manual.selectedNode = "香港 01";
    model.setSettings(manual);
    EXPECT_EQ(model.currentDelay(), 180);
    manual.selectedNode = "新加坡 01"; // chosen but unmeasured
    model.setSettings(manual);
    EXPECT_EQ(model.currentDelay(), std::nullopt);
    manual.selectedNode = "已下线节点"; // chosen node gone: fall back to the best
    model.setSettings(manual);
    EXPECT_EQ(model.currentDelay(), 70);

    model.setIsConnected(false);
    EXPECT_EQ(model.currentDelay(), std::nullopt);
}

TEST(AppModel, ActiveNodeName)
{
    Model model;
    EXPECT_EQ(model.activeNodeName(), "智能优选");
    AppSettings settings;
    settings.smartSelection = false;
    model.setSettings(settings);
    EXPECT_EQ(model.activeNodeName(), "尚未选择");
    settings.selectedNode = "东京 01";
    model.setSettings(settings);
    EXPECT_EQ(model.activeNodeName(), "东京 01");
}

TEST(AppModel, MenuBarSymbolFirstMatchWins)
{
    Model model;
    model.setIsConnected(true);
    model.setIsTesting(true);
    EXPECT_EQ(model.menuBarSystemImage(), "person.crop.circle");
    model.signIn(std::nullopt);
    EXPECT_EQ(model.menuBarSystemImage(), "lock.fill");
    model.becomeMember();
    EXPECT_EQ(model.menuBarSystemImage(), "speedometer");
    model.setIsTesting(false);
    model.setIsConnected(false);
    EXPECT_EQ(model.menuBarSystemImage(), "network.slash");
    model.connectWithDelays({ { "香港 01", 249 } });
    EXPECT_EQ(model.menuBarSystemImage(), "network.badge.shield.half.filled");
    model.connectWithDelays({ { "香港 01", 250 } });
    EXPECT_EQ(model.menuBarSystemImage(), "exclamationmark.triangle.fill");
    model.connectWithDelays({});
    EXPECT_EQ(model.menuBarSystemImage(), "network.badge.shield.half.filled");
}

TEST(AppModel, MembershipTexts)
{
    Model model;
    EXPECT_EQ(model.membershipStatusText(), "登录后查看会员权益");
    model.signIn(Membership {});
    EXPECT_EQ(model.accessState(), AppAccessState::signedIn);
    EXPECT_EQ(model.membershipStatusText(), "当前没有有效会员");
    EXPECT_EQ(model.membershipPlanText(), "未开通");
    EXPECT_EQ(model.officialLineStatusText(), "开通会员后自动获取官方线路");
    EXPECT_EQ(model.deviceLimitText(), "设备数以后台为准");
    EXPECT_EQ(model.membershipExpiryText(), "有效期由后台确认");

    Membership membership;
    membership.active = true;
    membership.planId = "monthly";
    membership.expiresAt = "2026-12-31T12:00:00Z";
    model.signIn(membership);
    EXPECT_EQ(model.accessState(), AppAccessState::member);
    EXPECT_EQ(model.membershipStatusText(), "会员权益已生效");
    EXPECT_EQ(model.membershipPlanText(), "已开通");
    EXPECT_EQ(model.officialLineStatusText(), "等待后台下发官方线路");
    const QString expiry = QDateTime(QDate(2026, 12, 31), QTime(12, 0), Qt::UTC).toLocalTime().toString("yyyy年M月d日");
    EXPECT_EQ(model.membershipExpiryText(), "有效期至 " + expiry);

    model.setServicePlans({ plan("yearly", 1), plan("monthly", 100 * GB, 3) });
    EXPECT_EQ(model.membershipPlanText(), "月度会员");
    EXPECT_EQ(model.deviceLimitText(), "最多 3 台设备");
    membership.deviceLimit = 5;
    membership.lifetime = true;
    model.signIn(membership);
    EXPECT_EQ(model.deviceLimitText(), "最多 5 台设备");
    EXPECT_EQ(model.membershipExpiryText(), "长期有效");

    model.setOfficialLineReady(true);
    EXPECT_EQ(model.officialLineStatusText(), "官方线路已安全下发");

    membership.lifetime = std::nullopt;
    membership.expiresAt = "2026-12-31"; // a date without time is not an internet date-time
    model.signIn(membership);
    EXPECT_EQ(model.membershipExpiryText(), "有效期由后台确认");
}

TEST(AppModel, TrafficUsageTakesTheLargerKnownCount)
{
    Model model;
    EXPECT_EQ(model.trafficUsage().summaryText(), "尚无流量数据");
    Membership membership;
    membership.active = true;
    membership.planId = "monthly";
    membership.trafficUsedBytes = 2 * GB;
    model.signIn(membership);
    EXPECT_EQ(model.trafficUsage().summaryText(), "已用 2 GB · 套餐额度同步中");
    EXPECT_EQ(model.trafficProgress(), std::nullopt);

    model.setServicePlans({ plan("monthly", 10 * GB) });
    model.setObservedTrafficUsedBytes(3 * GB);
    EXPECT_EQ(model.trafficUsage().summaryText(), "已用 3 GB / 10 GB");
    EXPECT_DOUBLE_EQ(*model.trafficProgress(), 0.3);
    model.setObservedTrafficUsedBytes(1 * GB);
    EXPECT_DOUBLE_EQ(*model.trafficProgress(), 0.2);
    model.setObservedTrafficUsedBytes(12 * GB);
    EXPECT_DOUBLE_EQ(*model.trafficProgress(), 1.0);

    model.setServicePlans({ plan("monthly", std::nullopt) });
    EXPECT_EQ(model.trafficUsage().summaryText(), "已用 12 GB · 不限流量");
    EXPECT_EQ(model.trafficProgress(), std::nullopt);
}

TEST(AppModel, ChangesAreSignalledOnlyWhenTheyHappen)
{
    Model model;
    int nodes = 0, any = 0;
    QObject::connect(&model, &AppModel::nodesChanged, [&] { ++nodes; });
    QObject::connect(&model, &AppModel::stateChanged, [&] { ++any; });
    model.setNodes({});
    EXPECT_EQ(nodes, 0);
    model.setNodes({ NodeItem { "a", "", "", 1, "" } });
    model.setNodes({ NodeItem { "a", "", "", 1, "" } });
    EXPECT_EQ(nodes, 1);
    EXPECT_EQ(any, 1);
}

class AppModelPresent : public veyra::test::DataFolderTest { };

TEST_F(AppModelPresent, MasksLogsAndAlerts)
{
    Model model;
    model.present(AppError("连接失败：Authorization: Bearer abc123 token=xyz"));
    ASSERT_TRUE(model.alertMessage());
    EXPECT_EQ(*model.alertMessage(), "连接失败：Authorization: Bearer *** token=***");
    const QStringList logs = QDir(AppPaths::logs()).entryList({ "veyra-*.log" }, QDir::Files);
    ASSERT_EQ(logs.size(), 1);
    const QByteArray content = veyra::test::readBytes(AppPaths::logs() + "/" + logs.first());
    EXPECT_TRUE(content.contains("Bearer ***"));
    EXPECT_FALSE(content.contains("abc123"));
    EXPECT_FALSE(content.contains("xyz"));

    // Set from anywhere else, the alert is masked just the same; clearing it stays possible.
    model.setAlertMessage(QStringLiteral("失败：password=hunter2"));
    EXPECT_EQ(model.alertMessage(), std::optional<QString>(QStringLiteral("失败：password=***")));
    model.setAlertMessage(std::nullopt);
    EXPECT_FALSE(model.alertMessage());
}

class ModelBookkeeping : public veyra::test::DataFolderTest {
protected:
    void SetUp() override
    {
        DataFolderTest::SetUp();
        AppPaths::prepare();
    }
    void member(std::optional<qint64> serverBytes, const QString &expiresAt)
    {
        AccountUser user;
        user.account = "13800000000";
        Membership membership;
        membership.active = true;
        membership.planId = QStringLiteral("monthly");
        membership.expiresAt = expiresAt;
        membership.trafficUsedBytes = serverBytes;
        user.membership = membership;
        model.setUser(user);
    }
    std::optional<qint64> stored(const QString &expiresAt)
    {
        veyra::test::await(model.flushStorage());
        return TrafficUsageStore::load({ "13800000000", QStringLiteral("monthly"), expiresAt });
    }

    Model model;
};

TEST_F(ModelBookkeeping, WithinOnePeriodTheFigureOnlyGrowsAndANewPeriodStartsAfresh)
{
    const QString period = QStringLiteral("2027-01-07T00:00:00Z");
    member(3 * GB, period);
    model.mergeTrafficUsageSources();
    EXPECT_EQ(model.observedTrafficUsedBytes(), 3 * GB);
    EXPECT_EQ(stored(period), 3 * GB);

    // Local counting got further; another run of this app stored more still.
    model.applyAbsoluteTrafficUsage(4 * GB);
    EXPECT_EQ(stored(period), 4 * GB);
    AppPaths::write(TrafficUsageRecord { { "13800000000", QStringLiteral("monthly"), period }, 5 * GB,
                        QDateTime::currentDateTimeUtc() }
                        .toJson(),
        AppPaths::trafficUsage());
    model.mergeTrafficUsageSources();
    EXPECT_EQ(model.observedTrafficUsedBytes(), 5 * GB);

    // A smaller total from the provider changes nothing.
    model.applyAbsoluteTrafficUsage(1 * GB);
    EXPECT_EQ(model.observedTrafficUsedBytes(), 5 * GB);

    // A renewed membership is a new period: the local figure does not follow it.
    const QString renewed = QStringLiteral("2027-02-07T00:00:00Z");
    member(3 * GB, renewed);
    model.mergeTrafficUsageSources();
    EXPECT_EQ(model.observedTrafficUsedBytes(), 3 * GB);
    EXPECT_EQ(stored(renewed), 3 * GB);
    EXPECT_EQ(stored(period), std::nullopt);

    // Signed out: nothing is known, and a provider figure has nobody to belong to.
    model.setUser(std::nullopt);
    model.mergeTrafficUsageSources();
    EXPECT_EQ(model.observedTrafficUsedBytes(), std::nullopt);
    model.applyAbsoluteTrafficUsage(9 * GB);
    EXPECT_EQ(model.observedTrafficUsedBytes(), std::nullopt);
    EXPECT_EQ(stored(renewed), 3 * GB);
}

TEST_F(ModelBookkeeping, OneStepChangingSeveralValuesRerendersOnce)
{
    AppSettings imported;
    imported.mixedPort = 8100;
    const QString file = root() + "/../import.json";
    AppPaths::write(imported.toJson(), file);
    int states = 0, settings = 0, statuses = 0;
    QObject::connect(&model, &AppModel::stateChanged, [&] { ++states; });
    QObject::connect(&model, &AppModel::settingsChanged, [&] { ++settings; });
    QObject::connect(&model, &AppModel::statusMessageChanged, [&] { ++statuses; });
    veyra::test::await(model.importSettings(file));
    EXPECT_EQ(model.statusMessage(), "设置已导入");
    EXPECT_EQ(settings, 1);
    EXPECT_EQ(statuses, 1);
    EXPECT_EQ(states, 1);
}

TEST(BackgroundTask, CancellingWakesAPendingSleepAtOnce)
{
    auto token = std::make_shared<CancellationToken>();
    bool ended = false;
    auto loop = [](CancellationTokenPtr token, bool *ended) -> QCoro::Task<> {
        while (!token->isCancelled()) {
            CancellableSleep pause(token, std::chrono::seconds(30));
            co_await pause;
        }
        *ended = true;
    };
    BackgroundTask task(loop(token, &ended), token);
    QElapsedTimer clock;
    clock.start();
    QTimer::singleShot(50, [&] { task.cancel(); });
    veyra::test::await(QCoro::sleepFor(std::chrono::milliseconds(300)));
    EXPECT_TRUE(ended);
    EXPECT_TRUE(task.isFinished());
    EXPECT_LT(clock.elapsed(), 2000);

    // A sleep that is not cancelled ends on time.
    auto quiet = std::make_shared<CancellationToken>();
    clock.restart();
    veyra::test::await([](CancellationTokenPtr token) -> QCoro::Task<> {
        CancellableSleep pause(token, std::chrono::milliseconds(100));
        co_await pause;
    }(quiet));
    EXPECT_GE(clock.elapsed(), 95);
}

TEST_F(ModelBookkeeping, OverlappingSettingsChangesAllSurviveInTheModelAndTheFile)
{
    // Two switches flipped one after the other, the second before the first one's write is done:
    // neither may undo the other, in the model or on disk.
    const bool smart = model.settings().smartSelection;
    QCoro::Task<> first = model.setSmartSelection(!smart);
    QCoro::Task<> second = model.updateProxyMode(ConnectionMode::global);
    veyra::test::await(std::move(first));
    veyra::test::await(std::move(second));
    EXPECT_EQ(model.settings().smartSelection, !smart);
    EXPECT_EQ(model.settings().proxyMode, ConnectionMode::global);
    const AppSettings written = veyra::test::await(model.settingsStore().loadSettings());
    EXPECT_EQ(written, model.settings());
}
