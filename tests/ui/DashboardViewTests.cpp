// The home page: the protection card, the live speeds, the connection mode and the membership's
// traffic, each following the model.
#include "DashboardView.h"
#include "MembershipTrafficCard.h"
#include "ServiceWorld.h"
#include "SpeedCard.h"
#include "SpeedChart.h"
#include "UiTestSupport.h"

#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>

using namespace veyra;
using namespace veyra::test;
using namespace veyra::ui;

namespace {

// Signed out, the buttons ask for the sign-in or change the page. Connected, the live speeds are
// drawn only while the window can be seen (closed to the tray, the latest are drawn on return).
TEST(DashboardView, TheButtonsAndTheLiveSpeedsFollowTheModel)
{
    // The user's own byte format; English here so the figures are fixed.
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const auto restore = qScopeGuard([&] { QLocale::setDefault(before); });
    StagedModel model;
    DashboardView view(model);
    SpeedCard *card = view.speedCard();
    view.show();
    EXPECT_EQ(pillText(view.connectButton()->parentWidget()), "已断开");
    EXPECT_TRUE(showsText(&view, "快捷键：Ctrl+Shift+C 连接或断开"));
    EXPECT_FALSE(findButton(&view, "重新测速")->isEnabled());
    ASSERT_TRUE(press(&view, "智能连接"));
    EXPECT_TRUE(model.showAuthentication());
    ASSERT_TRUE(press(&view, "查看节点"));
    EXPECT_EQ(model.selectedPage(), AppPage::nodes);
    ASSERT_TRUE(press(&view, "会员详情"));
    EXPECT_EQ(model.selectedPage(), AppPage::membership);

    model.becomeMember();
    EXPECT_FALSE(card->copyButton()->isVisibleTo(&view));
    model.setIsConnected(true);
    model.recordSpeed({ 12595, 1258291 });
    EXPECT_EQ(card->speedLine(), "↑ 12.3 kB/s ↓ 1.2 MB/s");
    EXPECT_TRUE(card->copyButton()->isVisibleTo(&view));
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

class DashboardTrafficIntegration : public ServiceWorld { };

// The allowance is syncing until the plans are loaded, then unlimited or metered by the plan.
TEST_F(DashboardTrafficIntegration, AllowanceSyncingUnlimitedAndMetered)
{
    constexpr qint64 GB = 1024LL * 1024 * 1024;
    signIn({ { "active", true }, { "planId", "yearly" }, { "uploadBytes", 25 * GB }, { "downloadBytes", 25 * GB } });
    MembershipTrafficCard card(*model);
    EXPECT_EQ(pillText(&card), "已生效");
    EXPECT_EQ(card.meter(), MembershipTrafficCard::Meter::syncing);
    await(model->refreshPlans(false));
    EXPECT_EQ(card.meter(), MembershipTrafficCard::Meter::unlimited);
    simulator.admin("membership", { { "account", member }, { "planId", "monthly" } });
    await(model->refreshAccount(false));
    EXPECT_EQ(card.meter(), MembershipTrafficCard::Meter::progress);
    EXPECT_EQ(card.findChild<QProgressBar *>()->value(), 250);
    EXPECT_TRUE(showsText(&card, "剩余 150 GB"));
}

} // namespace
