// The terminal proxy command on the real X clipboard, read back by another program. ctest runs
// this under Xvfb on the xcb platform; on the offscreen platform, whose clipboard never leaves
// the process, it is skipped.
#include "DashboardView.h"
#include "SpeedCard.h"
#include "StatusMenuView.h"
#include "UiTestSupport.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace veyra;
using namespace veyra::test;
using namespace veyra::ui;

namespace {

// What xclip reads from the clipboard; our event loop turns meanwhile to hand the text over.
QString clipboardOfX()
{
    QProcess xclip;
    xclip.start(
        QStringLiteral("xclip"), { QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard") });
    waitUntil([&] { return xclip.state() == QProcess::NotRunning; }, 10000);
    return QString::fromUtf8(xclip.readAllStandardOutput());
}

TEST(TerminalCommandClipboard, TheDashboardAndTheTrayMenuCopyItWhileConnected)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server (ctest runs it under Xvfb)";
    StagedModel model;
    model.becomeMember();
    const auto useMixedPort = [&](int port) {
        AppSettings settings = model.settings();
        settings.mixedPort = port;
        model.setSettings(settings);
        return QStringLiteral("export http_proxy=http://127.0.0.1:%1 https_proxy=http://127.0.0.1:%1 "
                              "all_proxy=socks5://127.0.0.1:%1 no_proxy=localhost,127.0.0.1,::1")
            .arg(port);
    };
    QString command = useMixedPort(17890);
    model.setIsConnected(true);
    DashboardView view(model);
    view.show();
    QPushButton *copy = view.speedCard()->copyButton();
    QTest::mouseClick(copy, Qt::LeftButton);
    EXPECT_EQ(copy->text(), "已复制");
    EXPECT_EQ(clipboardOfX(), command);

    command = useMixedPort(17891);
    StatusMenuView menu(model);
    QSignalSpy copied(&menu, &StatusMenuView::terminalCommandCopied);
    ASSERT_TRUE(menuAction(menu.menu(), "复制终端代理命令"));
    menuAction(menu.menu(), "复制终端代理命令")->trigger();
    EXPECT_EQ(clipboardOfX(), command);
    EXPECT_EQ(copied.count(), 1);
    model.setIsConnected(false);
    EXPECT_EQ(menuAction(menu.menu(), "复制终端代理命令"), nullptr);
    EXPECT_FALSE(copy->isVisible());
}

} // namespace
