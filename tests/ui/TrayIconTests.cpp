// The tray icon: legible on any panel in every state, and a tooltip that tells the state.
#include "Theme.h"
#include "TrayGlyph.h"
#include "TrayIcon.h"
#include "UiTestSupport.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QSet>

using namespace veyra;
using namespace veyra::test;
using namespace veyra::ui;

namespace {

// The share of the icon's pixels that stand out from the panel behind it.
double standingOut(const QIcon &icon, const QColor &panel, int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(panel);
    QPainter painter(&image);
    icon.paint(&painter, image.rect());
    painter.end();
    int distinct = 0;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            distinct += std::abs(qGray(image.pixel(x, y)) - qGray(panel.rgb())) > 64;
    return double(distinct) / (size * size);
}

TEST(TrayIcon, EveryStateReadsOnALightAndADarkPanel)
{
    StagedModel model;
    model.becomeMember();
    QList<TrayLook> every { trayLook(model) };
    model.setIsConnected(true);
    every << trayLook(model);
    model.setConnectionFailed(true);
    every << trayLook(model);
    // Connecting is reached only through a connect; its look is the accent's.
    every << TrayLook { "connecting", theme::accent(), "arrow.triangle.2.circlepath" };
    QSet<QRgb> fills;
    for (const TrayLook &look : every) {
        fills.insert(look.fill.rgb());
        for (const QColor panel : { QColor(0xf2, 0xf2, 0xf2), QColor(0x1e, 0x1e, 0x1e) })
            for (int size : { 16, 22, 32 })
                EXPECT_GT(standingOut(trayGlyph(look), panel, size), 0.35)
                    << look.state.toStdString() << " on " << qPrintable(panel.name()) << " at " << size << " px";
    }
    EXPECT_EQ(fills.size(), 4) << "two states look alike";
}

TEST(TrayIcon, TheTooltipTellsTheProductTheStateTheNodeAndTheSpeeds)
{
    StagedModel model;
    model.setStatusMessage(QStringLiteral("已断开，系统代理已恢复"));
    EXPECT_EQ(TrayIcon::toolTip(model), "维拉网络助手\n已断开，系统代理已恢复");

    model.becomeMember();
    model.setNodes({ NodeItem { "东京 01", "日本", "🇯🇵", 120, "veyra_official" } });
    model.setIsConnected(true);
    model.setStatusMessage(QStringLiteral("已安全连接 · 智能优选"));
    model.recordSpeed({ 0, 0 });
    const QStringList lines = TrayIcon::toolTip(model).split(u'\n');
    ASSERT_EQ(lines.size(), 4) << lines.join(u'|').toStdString();
    EXPECT_EQ(lines[1], "已安全连接 · 智能优选");
    EXPECT_EQ(lines[2], "智能优选 · 120 ms");
    EXPECT_TRUE(lines[3].startsWith("↑ ") && lines[3].contains(" ↓ ")) << lines[3].toStdString();
}

} // namespace
