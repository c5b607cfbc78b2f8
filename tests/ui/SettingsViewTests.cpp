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
#include <QSlider>
#include <QSpinBox>
#include <QTest>

using namespace veyra;
using namespace veyra::test;
using veyra::ui::PortField;
using veyra::ui::SettingsDesktop;
using veyra::ui::SettingsView;

namespace {

PortField *portField(const QWidget &view, const QString &title)
{
    for (PortField *field : view.findChildren<PortField *>())
        if (field->title() == title)
            return field;
    return nullptr;
}

void typePort(const QWidget &view, const QString &title, const QString &digits)
{
    QSpinBox *spin = portField(view, title)->spinBox();
    spin->setFocus();
    spin->selectAll();
    QTest::keyClicks(spin, digits);
}

std::optional<AppSettings> savedSettings()
{
    return AppPaths::read<AppSettings>(AppPaths::settings(), 1 << 20);
}

// The page with file panels that answer what the test chose and a folder opener that records.
class SettingsViewTest : public DataFolderTest {
protected:
    void SetUp() override
    {
        DataFolderTest::SetUp();
        SettingsDesktop desktop;
        desktop.chooseImportFile = [this](QWidget *) { return ++panelsShown, importChoice; };
        desktop.chooseExportFile = [this](QWidget *) { return ++panelsShown, exportChoice; };
        desktop.openFolder = [this](const QUrl &folder) { return openedFolders << folder, true; };
        view.setDesktop(desktop);
        view.resize(760, 1400);
        view.show();
    }
    void TearDown() override
    {
        ui::theme::setScalePercent(100);
        DataFolderTest::TearDown();
    }

    AppModel model;
    SettingsView view { model };
    int panelsShown = 0;
    std::optional<QString> importChoice, exportChoice;
    QList<QUrl> openedFolders;
};

TEST_F(SettingsViewTest, TheScaleMovesInStepsOfFiveAndIsOnlySavedWithTheRest)
{
    QSlider *slider = view.scaleSlider();
    QList<qint64> seen;
    const QObject watching; // goes before `seen`, while the fixture's model stays
    QObject::connect(&model, &AppModel::settingsChanged, &watching, [&] { seen << model.settings().uiScalePercent; });
    slider->setFocus();
    for (Qt::Key key : { Qt::Key_Home, Qt::Key_Right, Qt::Key_Right })
        QTest::keyClick(slider, key);
    EXPECT_EQ(seen.mid(0, 3), QList<qint64>({ 90, 95, 100 }));
    // Dragging lands on positions too, and each is a step.
    slider->setSliderDown(true);
    slider->setSliderPosition(slider->minimum() + 3);
    slider->setSliderDown(false);
    EXPECT_EQ(model.settings().uiScalePercent, 105);
    EXPECT_TRUE(showsText(&view, "105%"));
    EXPECT_FALSE(savedSettings()) << "a scale edit is only saved by 保存设置";

    // Duplicate ports are refused and nothing is written.
    typePort(view, "SOCKS5", "7890");
    EXPECT_EQ(model.settings().socksPort, 7890);
    ASSERT_TRUE(press(&view, "保存设置"));
    ASSERT_TRUE(waitUntil([&] { return model.alertMessage().has_value(); }));
    EXPECT_EQ(model.alertMessage(), "三个网络端口不能重复。");
    EXPECT_FALSE(QFile::exists(AppPaths::settings()));
    EXPECT_EQ(ui::theme::scalePercent(), 100);

    // Put right: saved, and the interface follows the scale.
    model.setAlertMessage(std::nullopt);
    typePort(view, "SOCKS5", "7893");
    ASSERT_TRUE(press(&view, "保存设置"));
    ASSERT_TRUE(waitUntil([&] { return savedSettings().has_value(); }));
    EXPECT_EQ(savedSettings()->socksPort, 7893);
    EXPECT_EQ(savedSettings()->uiScalePercent, 105);
    EXPECT_TRUE(waitUntil([&] { return ui::theme::scalePercent() == 105; }));
    EXPECT_EQ(model.alertMessage(), std::nullopt);
}

TEST_F(SettingsViewTest, FilePanelsAndTheLogFolder)
{
    // Cancelled panels call nothing.
    const QString statusBefore = model.statusMessage();
    ASSERT_TRUE(press(&view, "导入安全设置…"));
    ASSERT_TRUE(press(&view, "导出安全设置…"));
    EXPECT_EQ(panelsShown, 2);
    // Whatever either button started has finished once both queues of file work are through.
    await(model.flushStorage());
    await(Peer::settingsStore(model).loadSettings());
    EXPECT_EQ(model.statusMessage(), statusBefore);
    EXPECT_EQ(model.alertMessage(), std::nullopt);
    EXPECT_FALSE(QFile::exists(AppPaths::settings()));

    // Chosen: the file is written, then read back in.
    const QString file = m_dir.filePath(QStringLiteral("维拉网络助手-设置.json"));
    exportChoice = importChoice = file;
    model.editPorts(8000, 8001, 8002);
    ASSERT_TRUE(press(&view, "导出安全设置…"));
    ASSERT_TRUE(waitUntil([&] { return model.statusMessage() == "安全设置已导出"; }));
    model.editPorts(7890, 7891, 9090);
    ASSERT_TRUE(press(&view, "导入安全设置…"));
    ASSERT_TRUE(waitUntil([&] { return model.statusMessage() == "设置已导入"; }));
    EXPECT_EQ(model.settings().mixedPort, 8000);
    EXPECT_EQ(portField(view, "控制端口")->value(), 8002);

    ASSERT_TRUE(press(&view, "打开诊断日志"));
    EXPECT_EQ(openedFolders, QList<QUrl> { QUrl::fromLocalFile(AppPaths::logs()) });
}

class SettingsViewIntegration : public ServiceWorld { };

TEST_F(SettingsViewIntegration, SwitchesShowWhatTheOperationsLeft)
{
    SettingsView view(*model);
    view.show();
    ASSERT_TRUE(press(&view, "启动后自动连接"));
    ASSERT_TRUE(waitUntil([] { return savedSettings() && savedSettings()->autoConnect; }));
    EXPECT_TRUE(findButton(&view, "启动后自动连接")->isChecked());

    // No notification server answers on this bus: the switch goes back off by itself.
    QAbstractButton *notifications = findButton(&view, "显示系统通知");
    QTest::mouseClick(notifications, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !notifications->isChecked(); }, 10000));
    EXPECT_FALSE(model->settings().showNotifications);

    ASSERT_TRUE(press(&view, "自动选择延迟较低的节点"));
    // The operation ends with its status line; the model must outlive it.
    ASSERT_TRUE(waitUntil([&] {
        return savedSettings() && !savedSettings()->smartSelection && !model->settings().smartSelection
            && model->statusMessage() == "可在节点页手动选择节点";
    }));
}

} // namespace
