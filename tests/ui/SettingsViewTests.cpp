// The settings page: switches, ports and scale saved by "保存设置", file panels and the log
// folder. The ports locked while the kernel runs are walked with the connected window.
#include "AppModelTestPeer.h"
#include "SettingsView.h"

#include "AppPaths.h"
#include "PortField.h"
#include "ServiceWorld.h"
#include "Theme.h"
#include "UiTestSupport.h"

#include <QFile>
#include <QScopeGuard>
#include <QSlider>
#include <QSpinBox>
#include <QTest>

using namespace veyra;
using namespace veyra::test;
using namespace veyra::ui;

namespace {

std::optional<AppSettings> savedSettings()
{
    return AppPaths::read<AppSettings>(AppPaths::settings(), 1 << 20);
}

class SettingsViewIntegration : public ServiceWorld { };

// The scale moves in steps of five and is saved only with the rest; duplicate ports are refused
// and nothing is written. File panels answer what the test chose (cancelled ones call nothing);
// the switches show what their operations left.
TEST_F(SettingsViewIntegration, ScalePortsFilePanelsAndSwitches)
{
    const auto resetScale = qScopeGuard([] { theme::setScalePercent(100); });
    SettingsView view(*model);
    std::optional<QString> chosen;
    QList<QUrl> opened;
    SettingsDesktop desktop;
    desktop.chooseImportFile = desktop.chooseExportFile = [&](QWidget *) { return chosen; };
    desktop.openFolder = [&](const QUrl &folder) { return opened << folder, true; };
    view.setDesktop(desktop);
    view.resize(760, 1400);
    view.show();
    const auto typePort = [&](const QString &title, const QString &digits) {
        for (PortField *field : view.findChildren<PortField *>())
            if (field->title() == title) {
                field->spinBox()->setFocus();
                field->spinBox()->selectAll();
                QTest::keyClicks(field->spinBox(), digits);
            }
    };

    QSlider *slider = view.scaleSlider();
    slider->setFocus();
    for (Qt::Key key : { Qt::Key_Home, Qt::Key_Right })
        QTest::keyClick(slider, key);
    EXPECT_EQ(model->settings().uiScalePercent, 95);
    slider->setSliderDown(true);
    slider->setSliderPosition(slider->minimum() + 3);
    slider->setSliderDown(false);
    EXPECT_EQ(model->settings().uiScalePercent, 105);
    EXPECT_TRUE(showsText(&view, "105%"));
    typePort("SOCKS5", QString::number(model->settings().mixedPort));
    ASSERT_TRUE(press(&view, "保存设置"));
    ASSERT_TRUE(waitUntil([&] { return model->alertMessage().has_value(); }));
    EXPECT_FALSE(savedSettings());
    EXPECT_EQ(theme::scalePercent(), 100);
    model->setAlertMessage(std::nullopt);
    typePort("SOCKS5", "7893");
    ASSERT_TRUE(press(&view, "保存设置"));
    ASSERT_TRUE(waitUntil([&] { return savedSettings().has_value(); }));
    EXPECT_EQ(savedSettings()->socksPort, 7893);
    EXPECT_EQ(savedSettings()->uiScalePercent, 105);
    EXPECT_TRUE(waitUntil([&] { return theme::scalePercent() == 105; }));

    const QString status = model->statusMessage();
    ASSERT_TRUE(press(&view, "导入安全设置…"));
    ASSERT_TRUE(press(&view, "导出安全设置…"));
    await(model->flushStorage());
    await(Peer::settingsStore(*model).loadSettings());
    EXPECT_EQ(model->statusMessage(), status) << "a cancelled panel did something";
    chosen = m_dir.filePath(QStringLiteral("设置.json"));
    model->editPorts(8000, 8001, 8002);
    ASSERT_TRUE(press(&view, "导出安全设置…"));
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage() == "安全设置已导出"; }));
    model->editPorts(7890, 7891, 9090);
    ASSERT_TRUE(press(&view, "导入安全设置…"));
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage() == "设置已导入"; }));
    EXPECT_EQ(model->settings().mixedPort, 8000);
    ASSERT_TRUE(press(&view, "打开诊断日志"));
    EXPECT_EQ(opened, QList<QUrl> { QUrl::fromLocalFile(AppPaths::logs()) });

    ASSERT_TRUE(press(&view, "启动后自动连接"));
    ASSERT_TRUE(waitUntil([] { return savedSettings() && savedSettings()->autoConnect; }));
    EXPECT_TRUE(findButton(&view, "启动后自动连接")->isChecked());
    // No notification server answers on this bus: the switch goes back off by itself.
    QAbstractButton *notifications = findButton(&view, "显示系统通知");
    QTest::mouseClick(notifications, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !notifications->isChecked(); }, 10000));
    ASSERT_TRUE(press(&view, "自动选择延迟较低的节点"));
    // The operation ends with its status line; the model must outlive it.
    ASSERT_TRUE(waitUntil([&] {
        return savedSettings() && !savedSettings()->smartSelection
            && model->statusMessage() == "可在节点页手动选择节点";
    }));
}

} // namespace
