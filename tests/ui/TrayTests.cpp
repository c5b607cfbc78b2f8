// The menu-bar menu: its entries signed out, and the node menus kept in place while the
// latencies change (the menu signed in and connected is walked with the window); the tray icon:
// legible on any panel in every state, and a tooltip that tells the state.
#include "StatusMenuView.h"
#include "Theme.h"
#include "TrayGlyph.h"
#include "TrayIcon.h"
#include "UiTestSupport.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <QSet>
#include <QSignalSpy>

using namespace veyra;
using namespace veyra::test;
using namespace veyra::ui;

namespace {

// Signed out: the state line heads the menu as a line to read; the account entries open the sheet
// in their modes. A change the menu does not show leaves its entries in place.
TEST(StatusMenuView, SignedOutOffersOnlyTheWindowTheAccountAndQuit)
{
    StagedModel model;
    StatusMenuView view(model);
    QSignalSpy showWindow(&view, &StatusMenuView::showMainWindowRequested);
    QSignalSpy quit(&view, &StatusMenuView::quitRequested);
    model.setStatusMessage(QStringLiteral("已退出账号"));
    EXPECT_EQ(menuTexts(view.menu()),
        (QStringList { "已退出账号", "—", "显示主窗口", "—", "注册账号", "登录账号", "—", "退出维拉网络助手" }));
    EXPECT_FALSE(view.menu()->actions().first()->isEnabled());
    QAction *before = menuAction(view.menu(), "注册账号");
    model.setSelectedPage(AppPage::settings);
    EXPECT_EQ(menuAction(view.menu(), "注册账号"), before);
    for (const auto &[entry, mode] : { std::pair { "注册账号", AuthenticationMode::registration },
             std::pair { "登录账号", AuthenticationMode::login } }) {
        model.setShowAuthentication(false);
        menuAction(view.menu(), entry)->trigger();
        EXPECT_EQ(model.authenticationMode(), mode) << entry;
        EXPECT_TRUE(model.showAuthentication()) << entry;
    }
    menuAction(view.menu(), "显示主窗口")->trigger();
    EXPECT_EQ(showWindow.count(), 3);
    menuAction(view.menu(), "退出维拉网络助手")->trigger();
    EXPECT_EQ(quit.count(), 1);
}

NodeItem node(const char *name, const char *region, const char *flag, int delay)
{
    return NodeItem { name, region, flag, delay, "veyra_official" };
}

// A latency test reorders two nodes and finds a third: the entries that stay are the same ones,
// in the new order, and the open submenu stays open; a node gone is all that is removed.
TEST(StatusMenuView, NewLatenciesUpdateTheOpenNodeMenuInPlace)
{
    StagedModel model;
    model.becomeMember();
    model.setNodes({ node("东京 01", "日本", "🇯🇵", 120), node("香港 01", "香港", "🇭🇰", 200) });
    model.setIsConnected(true);
    StatusMenuView view(model);
    QMenu *choice = submenu(view.menu(), "节点选择");
    QMenu *regions = submenu(view.menu(), "按地区选择");
    QMenu *japan = submenu(regions, "日本");
    choice->popup(QPoint(0, 0));
    ASSERT_TRUE(waitUntil([&] { return choice->isVisible(); }));
    QAction *hongKong = menuAction(choice, "🇭🇰 香港 01 · 200 ms");
    ASSERT_TRUE(hongKong) << menuTexts(choice).join(u'|').toStdString();
    model.setNodes(
        { node("东京 01", "日本", "🇯🇵", 400), node("香港 01", "香港", "🇭🇰", 90), node("首尔 01", "韩国", "🇰🇷", -1) });
    EXPECT_EQ(submenu(view.menu(), "节点选择"), choice);
    EXPECT_TRUE(choice->isVisible());
    EXPECT_EQ(menuTexts(choice),
        (QStringList { "智能优选", "🇭🇰 香港 01 · 90 ms", "🇯🇵 东京 01 · 400 ms", "🇰🇷 首尔 01 · 未测速" }));
    EXPECT_EQ(menuAction(choice, "🇭🇰 香港 01 · 90 ms"), hongKong);
    EXPECT_EQ(submenu(regions, "日本"), japan);
    EXPECT_EQ(menuTexts(regions), (QStringList { "日本", "韩国", "香港" }));
    model.setNodes({ node("香港 01", "香港", "🇭🇰", 90) });
    EXPECT_EQ(menuTexts(choice), (QStringList { "智能优选", "🇭🇰 香港 01 · 90 ms" }));
    EXPECT_EQ(menuAction(choice, "🇭🇰 香港 01 · 90 ms"), hongKong);
    EXPECT_EQ(menuTexts(regions), QStringList { "香港" });
    choice->hide();
}

// Every state's icon stands out from a light and a dark panel at every size, and no two states
// look alike; the tooltip names the product, the state, the node with its latency and the speeds.
TEST(TrayIcon, EveryStateReadsOnAnyPanelAndTheTooltipTellsTheState)
{
    StagedModel model;
    model.setStatusMessage(QStringLiteral("已断开"));
    EXPECT_EQ(TrayIcon::toolTip(model), "维拉网络助手\n已断开");
    model.becomeMember();
    QList<TrayLook> every { trayLook(model) };
    model.setNodes({ node("东京 01", "日本", "🇯🇵", 120) });
    model.setIsConnected(true);
    every << trayLook(model);
    model.recordSpeed({ 0, 0 });
    const QStringList lines = TrayIcon::toolTip(model).split(u'\n');
    ASSERT_EQ(lines.size(), 4) << lines.join(u'|').toStdString();
    EXPECT_EQ(lines[2], "智能优选 · 120 ms");
    EXPECT_TRUE(lines[3].startsWith("↑ ") && lines[3].contains(" ↓ ")) << lines[3].toStdString();
    model.setConnectionFailed(true);
    every << trayLook(model) << TrayLook { "connecting", theme::accent(), "arrow.triangle.2.circlepath" };
    QSet<QRgb> fills;
    for (const TrayLook &look : every) {
        fills.insert(look.fill.rgb());
        for (const QColor panel : { QColor(0xf2, 0xf2, 0xf2), QColor(0x1e, 0x1e, 0x1e) })
            for (int size : { 16, 22, 32 }) {
                QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
                image.fill(panel);
                QPainter painter(&image);
                trayGlyph(look).paint(&painter, image.rect());
                painter.end();
                int distinct = 0;
                for (int y = 0; y < size; ++y)
                    for (int x = 0; x < size; ++x)
                        distinct += std::abs(qGray(image.pixel(x, y)) - qGray(panel.rgb())) > 64;
                EXPECT_GT(distinct, size * size * 35 / 100)
                    << look.state.toStdString() << " on " << qPrintable(panel.name()) << " at " << size << " px";
            }
    }
    EXPECT_EQ(fills.size(), 4) << "two states look alike";
}

} // namespace
