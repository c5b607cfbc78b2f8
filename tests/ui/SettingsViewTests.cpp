// The settings page: switches, ports and scale saved by "保存设置", file panels, the log folder,
// and the ports locked while the kernel runs.
#include "AppModelTestPeer.h"
#include "SettingsView.h"

#include "AppPaths.h"
#include "ModelWorld.h"
#include "PortField.h"
#include "ServiceWorld.h"
#include "Theme.h"
#include "ToggleSwitch.h"
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

class SettingsViewTest : public DataFolderTest {
protected:
    void SetUp() override
    {
        DataFolderTest::SetUp();
        desktop.chooseImportFile = [this](QWidget *) {
            ++panelsShown;
            return importChoice;
        };
        desktop.chooseExportFile = [this](QWidget *) {
            ++panelsShown;
            return exportChoice;
        };
        desktop.openFolder = [this](const QUrl &folder) {
            openedFolders << folder;
            return true;
        };
        view = std::make_unique<SettingsView>(model);
        view->setDesktop(desktop);
        view->resize(760, 1400);
        view->show();
    }
    void TearDown() override
    {
        view.reset();
        ui::theme::setScalePercent(100);
        DataFolderTest::TearDown();
    }
    void press(const QString &text)
    {
        QAbstractButton *button = findButton(view.get(), text);
        ASSERT_TRUE(button) << text.toStdString();
        QTest::mouseClick(button, Qt::LeftButton);
    }

    AppModel model;
    SettingsDesktop desktop;
    int panelsShown = 0;
    std::optional<QString> importChoice;
    std::optional<QString> exportChoice;
    QList<QUrl> openedFolders;
    std::unique_ptr<SettingsView> view;
};

TEST_F(SettingsViewTest, TheScaleMovesInStepsOfFive)
{
    QSlider *slider = view->scaleSlider();
    QList<qint64> seen;
    const QObject watching; // goes before `seen`, while the fixture's model stays
    QObject::connect(&model, &AppModel::settingsChanged, &watching, [&] { seen << model.settings().uiScalePercent; });
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_Home);
    for (int i = 0; i < 12; ++i)
        QTest::keyClick(slider, Qt::Key_Right);
    QTest::keyClick(slider, Qt::Key_PageDown);
    QTest::keyClick(slider, Qt::Key_End);
    QTest::keyClick(slider, Qt::Key_Home);
    EXPECT_EQ(seen.mid(0, 11), QList<qint64>({ 90, 95, 100, 105, 110, 115, 120, 125, 130, 135, 140 }));
    EXPECT_EQ(model.settings().uiScalePercent, 90);
    EXPECT_TRUE(showsText(view.get(), QStringLiteral("90%")));
    // Dragging lands on positions too, and each is a step.
    slider->setSliderDown(true);
    slider->setSliderPosition(slider->minimum() + 3);
    slider->setSliderDown(false);
    EXPECT_EQ(model.settings().uiScalePercent, 105);
    EXPECT_TRUE(showsText(view.get(), QStringLiteral("105%")));
    EXPECT_FALSE(savedSettings()) << "a scale edit is only saved by 保存设置";
}

TEST_F(SettingsViewTest, DuplicatePortsAreRefusedAndNothingIsWritten)
{
    typePort(*view, QStringLiteral("SOCKS5"), QStringLiteral("7890"));
    EXPECT_EQ(model.settings().socksPort, 7890);
    press(QStringLiteral("保存设置"));
    ASSERT_TRUE(waitUntil([&] { return model.alertMessage().has_value(); }));
    EXPECT_EQ(model.alertMessage(), QStringLiteral("三个网络端口不能重复。"));
    EXPECT_FALSE(QFile::exists(AppPaths::settings()));
    EXPECT_EQ(ui::theme::scalePercent(), 100);

    // Put right, with a larger text: saved, and the interface follows.
    model.setAlertMessage(std::nullopt);
    typePort(*view, QStringLiteral("SOCKS5"), QStringLiteral("7893"));
    view->scaleSlider()->setValue(120 / 5);
    press(QStringLiteral("保存设置"));
    ASSERT_TRUE(waitUntil([&] { return savedSettings().has_value(); }));
    EXPECT_EQ(savedSettings()->socksPort, 7893);
    EXPECT_EQ(savedSettings()->uiScalePercent, 120);
    EXPECT_TRUE(waitUntil([&] { return ui::theme::scalePercent() == 120; }));
    EXPECT_EQ(model.alertMessage(), std::nullopt);
}

TEST_F(SettingsViewTest, FilePanelsAndTheLogFolder)
{
    // Cancelled panels call nothing.
    const QString statusBefore = model.statusMessage();
    press(QStringLiteral("导入安全设置…"));
    press(QStringLiteral("导出安全设置…"));
    EXPECT_EQ(panelsShown, 2);
    // Whatever either button started has finished once both queues of file work are through.
    await(model.flushStorage());
    await(Peer::settingsStore(model).loadSettings());
    EXPECT_EQ(model.statusMessage(), statusBefore);
    EXPECT_EQ(model.alertMessage(), std::nullopt);
    EXPECT_FALSE(QFile::exists(AppPaths::settings()));

    // Chosen: the file is written, then read back in.
    const QString file = m_dir.filePath(QStringLiteral("维拉网络助手-设置.json"));
    exportChoice = file;
    model.editPorts(8000, 8001, 8002);
    press(QStringLiteral("导出安全设置…"));
    ASSERT_TRUE(waitUntil([&] { return model.statusMessage() == QStringLiteral("安全设置已导出"); }));
    EXPECT_TRUE(QFile::exists(file));
    model.editPorts(7890, 7891, 9090);
    importChoice = file;
    press(QStringLiteral("导入安全设置…"));
    ASSERT_TRUE(waitUntil([&] { return model.statusMessage() == QStringLiteral("设置已导入"); }));
    EXPECT_EQ(model.settings().mixedPort, 8000);
    EXPECT_EQ(portField(*view, QStringLiteral("控制端口"))->value(), 8002);

    press(QStringLiteral("打开诊断日志"));
    ASSERT_EQ(openedFolders.size(), 1);
    EXPECT_EQ(openedFolders.first(), QUrl::fromLocalFile(AppPaths::logs()));
}

class SettingsViewIntegration : public ServiceWorld { };

TEST_F(SettingsViewIntegration, SwitchesShowWhatTheOperationsLeft)
{
    SettingsView view(*model);
    view.show();
    auto toggle = [&](const QString &text) {
        QAbstractButton *found = findButton(&view, text);
        EXPECT_TRUE(found) << text.toStdString();
        return found;
    };
    QTest::mouseClick(toggle(QStringLiteral("启动后自动连接")), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([] { return savedSettings() && savedSettings()->autoConnect; }))
        << model->settings().autoConnect << model->alertMessage().value_or("-").toStdString()
        << QFile::exists(AppPaths::settings());
    EXPECT_TRUE(toggle(QStringLiteral("启动后自动连接"))->isChecked());

    // No notification server answers on this bus: the switch goes back off by itself.
    QAbstractButton *notifications = toggle(QStringLiteral("显示系统通知"));
    QTest::mouseClick(notifications, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !notifications->isChecked(); }, 10000));
    EXPECT_FALSE(model->settings().showNotifications);

    QTest::mouseClick(toggle(QStringLiteral("自动选择延迟较低的节点")), Qt::LeftButton);
    // The operation ends with its status line; the model must outlive it.
    ASSERT_TRUE(waitUntil([&] {
        return savedSettings() && !savedSettings()->smartSelection && !model->settings().smartSelection
            && model->statusMessage() == QStringLiteral("可在节点页手动选择节点");
    })) << model->settings().smartSelection
        << model->isBusy() << toggle(QStringLiteral("自动选择延迟较低的节点"))->isChecked()
        << (savedSettings() ? savedSettings()->smartSelection : 7);
}

class SettingsViewWorldIntegration : public ModelWorld { };

TEST_F(SettingsViewWorldIntegration, PortsAreLockedWhileTheKernelRuns)
{
    AppModel &m = makeModel();
    SettingsView view(m);
    view.show();
    QWidget *ports = portField(view, QStringLiteral("混合代理"))->parentWidget();
    EXPECT_TRUE(ports->isEnabled());
    await(m.connect());
    ASSERT_TRUE(m.isCoreRunning()) << m.alertMessage().value_or(QString()).toStdString();
    EXPECT_FALSE(ports->isEnabled());
    EXPECT_FALSE(portField(view, QStringLiteral("SOCKS5"))->spinBox()->isEnabled());
    EXPECT_TRUE(showsText(&view, QStringLiteral("网络核心正在运行")));
    await(m.disconnect());
    EXPECT_TRUE(ports->isEnabled());
    EXPECT_TRUE(showsText(&view, QStringLiteral("网络核心已就绪")));
}

} // namespace
