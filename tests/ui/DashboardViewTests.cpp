#include "ConnectionModeCard.h"
#include "DashboardView.h"
#include "MembershipTrafficCard.h"
#include "ModelWorld.h"
#include "SegmentedControl.h"
#include "ServiceWorld.h"
#include "SpeedCard.h"
#include "SpeedChart.h"
#include "StatusPill.h"
#include "UiTestSupport.h"

#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>

using namespace veyra;
using namespace veyra::test;
using namespace veyra::ui;

namespace {

QString pillText(const QWidget *root)
{
    for (StatusPill *pill : root->findChildren<StatusPill *>())
        if (pill->isVisibleTo(const_cast<QWidget *>(root)))
            return pill->title();
    return {};
}

void click(QAbstractButton *button)
{
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
}

} // namespace

TEST(DashboardView, LiveSpeedsAreDrawnOnlyWhileTheWindowCanBeSeen)
{
    // The user's own byte format (powers of 1024, written kB and MB); English here so the
    // figures are fixed.
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const auto restore = qScopeGuard([&] { QLocale::setDefault(before); });
    StagedModel model;
    model.becomeMember();
    DashboardView view(model);
    SpeedCard *card = view.speedCard();
    view.resize(760, 560);
    view.show();
    EXPECT_EQ(card->speedLine(), "连接后显示实时速度");
    EXPECT_FALSE(card->copyButton()->isVisibleTo(&view));

    model.setIsConnected(true);
    model.recordSpeed({ 12595, 1258291 });
    EXPECT_EQ(card->speedLine(), "↑ 12.3 kB/s ↓ 1.2 MB/s");
    EXPECT_EQ(card->chart()->history().size(), 1);
    EXPECT_TRUE(card->copyButton()->isVisibleTo(&view));

    // Hidden (the window closed to the tray), the seconds are not drawn; shown again, the
    // latest are.
    view.hide();
    model.recordSpeed({ 512, 0 });
    model.recordSpeed({ 2048, 3 * 1024 * 1024 });
    EXPECT_EQ(card->chart()->history().size(), 1);
    view.show();
    EXPECT_EQ(card->speedLine(), "↑ 2.0 kB/s ↓ 3.0 MB/s");
    EXPECT_EQ(card->chart()->history().size(), 3);

    model.setIsConnected(false);
    EXPECT_EQ(card->speedLine(), "连接后显示实时速度");
    EXPECT_TRUE(card->chart()->history().isEmpty());
}

TEST(DashboardView, SignedOutReadsDisconnectedAndOffersTheSignIn)
{
    AppModel model;
    DashboardView view(model);
    view.resize(760, 560);

    EXPECT_TRUE(showsText(&view, "网络保护未开启"));
    EXPECT_EQ(pillText(view.connectButton()->parentWidget()), "已断开");
    EXPECT_TRUE(showsText(&view, model.statusMessage()));
    // The shortcut is named as this platform's keyboard names it, and the hint stays while idle.
    EXPECT_EQ(DashboardView::shortcutHint(), "快捷键：Ctrl+Shift+C 连接或断开");
    EXPECT_TRUE(showsText(&view, DashboardView::shortcutHint()));
    EXPECT_FALSE(view.busyIndicator()->isVisibleTo(&view));
    EXPECT_TRUE(findButton(&view, "重新测速") && !findButton(&view, "重新测速")->isEnabled());
    MembershipTrafficCard *card = view.membershipCard();
    EXPECT_EQ(pillText(card), "未生效");
    EXPECT_EQ(card->meter(), MembershipTrafficCard::Meter::syncing);

    // Mode card: the stored mode, and a change would wait for the next connect.
    ConnectionModeCard *mode = view.modeCard();
    EXPECT_EQ(mode->picker()->currentValue().toInt(), static_cast<int>(model.settings().proxyMode));
    EXPECT_TRUE(showsText(mode, "将在下次连接时生效"));
    EXPECT_TRUE(mode->picker()->isEnabled());

    // Connecting while signed out asks for the sign-in; the two page buttons change the page.
    click(findButton(&view, "智能连接"));
    EXPECT_TRUE(model.showAuthentication());
    EXPECT_EQ(model.authenticationMode(), AuthenticationMode::login);
    click(findButton(&view, "查看节点"));
    EXPECT_EQ(model.selectedPage(), AppPage::nodes);
    click(findButton(card, "会员详情"));
    EXPECT_EQ(model.selectedPage(), AppPage::membership);
}

class DashboardViewIntegration : public ModelWorld { };

TEST_F(DashboardViewIntegration, ConnectChooseModeTestAndDisconnect)
{
    AppModel &m = makeModel();
    DashboardView view(m);
    view.resize(760, 560);
    ConnectionModeCard *mode = view.modeCard();
    QWidget *protection = view.connectButton()->parentWidget();

    EXPECT_EQ(pillText(view.membershipCard()), "已生效");

    // A mode chosen while disconnected is kept for the next connect.
    click(mode->picker()->segment(static_cast<int>(ConnectionMode::global)));
    ASSERT_TRUE(waitUntil([&] { return m.statusMessage() == "已设为全局 · 下次连接时生效"; }));
    EXPECT_EQ(m.settings().proxyMode, ConnectionMode::global);
    EXPECT_TRUE(showsText(mode, "所有系统代理流量都通过当前节点。"));
    EXPECT_TRUE(showsText(&view, m.statusMessage()));

    // While the connect runs: the button and the picker refuse, the progress shows, and the
    // card keeps its height.
    const int idleHeight = protection->sizeHint().height();
    click(view.connectButton());
    ASSERT_TRUE(m.isBusy());
    EXPECT_FALSE(view.connectButton()->isEnabled());
    EXPECT_FALSE(mode->picker()->isEnabled());
    EXPECT_TRUE(view.busyIndicator()->isVisibleTo(&view));
    EXPECT_TRUE(showsText(&view, DashboardView::shortcutHint()));
    EXPECT_EQ(protection->sizeHint().height(), idleHeight);

    ASSERT_TRUE(waitUntil([&] { return m.isConnected() && !m.isBusy(); }, 30000)) << m.statusMessage().toStdString();
    EXPECT_TRUE(showsText(&view, "网络保护已开启"));
    EXPECT_EQ(pillText(protection), "已连接");
    EXPECT_TRUE(showsText(&view, m.connectionQualityText()));
    EXPECT_FALSE(view.busyIndicator()->isVisibleTo(&view));
    EXPECT_TRUE(view.connectButton()->isEnabled());
    EXPECT_EQ(view.connectButton()->text(), "断开");
    EXPECT_TRUE(showsText(mode, "已立即生效"));

    // A latency test refuses a second press until it is done.
    QAbstractButton *retest = findButton(&view, "重新测速");
    ASSERT_TRUE(retest && retest->isEnabled());
    click(retest);
    ASSERT_TRUE(m.isTesting());
    EXPECT_FALSE(retest->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return !m.isTesting(); }, 20000));
    EXPECT_TRUE(retest->isEnabled());

    click(view.connectButton());
    ASSERT_TRUE(waitUntil([&] { return !m.isConnected() && !m.isBusy(); }, 20000));
    EXPECT_TRUE(showsText(&view, "网络保护未开启"));
    EXPECT_EQ(view.connectButton()->text(), "智能连接");
    EXPECT_FALSE(retest->isEnabled());
    EXPECT_TRUE(showsText(mode, "将在下次连接时生效"));
}

class DashboardTrafficIntegration : public ServiceWorld { };

TEST_F(DashboardTrafficIntegration, AllowanceSyncingUnlimitedAndMetered)
{
    constexpr qint64 GB = 1024LL * 1024 * 1024;
    signIn({ { "active", true }, { "planId", "yearly" }, { "uploadBytes", 25 * GB }, { "downloadBytes", 25 * GB } });
    ASSERT_TRUE(model->membershipActive());
    MembershipTrafficCard card(*model);

    // The plans are not loaded yet: the allowance is still being synced.
    EXPECT_EQ(pillText(&card), "已生效");
    EXPECT_EQ(card.meter(), MembershipTrafficCard::Meter::syncing);
    EXPECT_TRUE(showsText(&card, "剩余 --"));

    await(model->refreshPlans(false));
    EXPECT_TRUE(showsText(&card, "年度会员"));
    EXPECT_EQ(card.meter(), MembershipTrafficCard::Meter::unlimited);
    EXPECT_TRUE(showsText(&card, "不限流量"));
    EXPECT_TRUE(showsText(&card, "剩余 --"));

    simulator.admin("membership", { { "account", member }, { "planId", "monthly" } });
    await(model->refreshAccount(false));
    EXPECT_TRUE(showsText(&card, "月度会员"));
    EXPECT_EQ(card.meter(), MembershipTrafficCard::Meter::progress);
    EXPECT_EQ(card.findChild<QProgressBar *>()->value(), 250);
    EXPECT_TRUE(showsText(&card, "总计 200 GB"));
    EXPECT_TRUE(showsText(&card, "25%"));
    EXPECT_TRUE(showsText(&card, "剩余 150 GB"));
}

TEST_F(DashboardViewIntegration, ARefusedModeChangeShowsTheKeptModeEveryTime)
{
    AppModel &m = makeModel();
    DashboardView view(m);
    view.show();
    await(m.connect());
    ASSERT_TRUE(m.isConnected());
    SegmentedControl *picker = view.modeCard()->picker();
    const QVariant kept = picker->currentValue();
    // The kernel's controller is asked on a port where nothing answers: every change is refused
    // before the settings move, and with the same words, so the alert does not change the
    // second time.
    const AppSettings settings = m.settings();
    m.editPorts(settings.mixedPort, settings.socksPort, 1);
    for (const ConnectionMode chosen : { ConnectionMode::global, ConnectionMode::direct }) {
        click(picker->segment(static_cast<int>(chosen)));
        EXPECT_TRUE(waitUntil([&] { return m.alertMessage() && picker->currentValue() == kept; }, 5000))
            << "the picker still shows the refused mode " << static_cast<int>(chosen);
    }
    m.editPorts(settings.mixedPort, settings.socksPort, settings.controllerPort);
}
