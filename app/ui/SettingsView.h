#pragma once

#include <QCoroTask>
#include <QPointer>
#include <QSet>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <optional>

class QAbstractButton;
class QLabel;
class QPushButton;
class QSlider;

namespace veyra {
class AppModel;
}

namespace veyra::ui {

class OperationButton;

class PortField;
class ToggleSwitch;

// What the settings page asks of the desktop: the native open and save panels for the
// settings file, and showing a folder in the file browser. Tests put their own in.
struct SettingsDesktop {
    // The chosen file, or nothing when the panel was cancelled.
    std::function<std::optional<QString>(QWidget *parent)> chooseImportFile;
    std::function<std::optional<QString>(QWidget *parent)> chooseExportFile;
    // False when no file browser would open it.
    std::function<bool(const QUrl &folder)> openFolder;

    static SettingsDesktop native();
};

// The settings page: switches that apply at once, ports and interface scale that are saved by
// "保存设置", repair, the diagnostic log, import and export, the security notes and the version.
class SettingsView : public QWidget {
    Q_OBJECT
public:
    explicit SettingsView(AppModel &model, QWidget *parent = nullptr);

    void setDesktop(SettingsDesktop desktop);

    // The interface scale a slider position stands for: only multiples of 5 from 90 to 140.
    static int scaleForPosition(int position);
    QSlider *scaleSlider() const { return m_scale; }

private:
    void render();
    void editPorts();
    void save();
    void importFile();
    void exportFile();
    void openLogs();
    // Runs a switch's operation and shows the settings again when it ends: an operation that
    // leaves a setting as it was publishes nothing, and the switch must still go back.
    void runThenRender(QCoro::Task<> operation, QAbstractButton *toggle);
    // Runs a save or an import, then lets the interface scale follow the settings.
    void runThenApplyScale(QCoro::Task<> operation);
    static QCoro::Task<> renderAfter(
        QCoro::Task<> operation, QPointer<SettingsView> view, QAbstractButton *toggle, bool applyScale);
    void applyScale();

    AppModel &m_model;
    SettingsDesktop m_desktop;
    QSet<QAbstractButton *> m_pendingSwitches;

    ToggleSwitch *m_startAtLogin;
    ToggleSwitch *m_notifications;
    ToggleSwitch *m_autoConnect;
    ToggleSwitch *m_smartSelection;
    QWidget *m_ports;
    PortField *m_mixedPort;
    PortField *m_socksPort;
    PortField *m_controllerPort;
    QSlider *m_scale;
    QLabel *m_scaleValue;
    QPushButton *m_repair;
    QPushButton *m_import;
    QLabel *m_kernelState;
    OperationButton *m_refresh;
};

} // namespace veyra::ui
