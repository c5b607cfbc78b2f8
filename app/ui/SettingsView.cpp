#include "SettingsView.h"

#include "AppInfo.h"
#include "AppModel.h"
#include "Controls.h"
#include "PageHeader.h"
#include "PageScaffold.h"
#include "PlatformTexts.h"
#include "PortField.h"
#include "SectionCard.h"
#include "SymbolLabel.h"
#include "Theme.h"
#include "ToggleSwitch.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

namespace veyra::ui {

namespace {

    constexpr int scaleStep = 5;
    constexpr int scaleMinimum = 90;
    constexpr int scaleMaximum = 140;

    QLabel *note(const QString &text, QWidget *parent)
    {
        auto *label = new QLabel(text, parent);
        label->setWordWrap(true);
        theme::setTextRole(label, theme::TextRole::small);
        theme::makeSecondary(label);
        return label;
    }

    SectionCard *card(const QString &title, QWidget *parent)
    {
        auto *made = new SectionCard(parent);
        auto *heading = new QLabel(title, made);
        theme::setTextRole(heading, theme::TextRole::headline, true);
        made->body()->addWidget(heading);
        return made;
    }

    int positionForScale(qint64 percent)
    {
        const qint64 clamped = std::clamp<qint64>(percent, scaleMinimum, scaleMaximum);
        return static_cast<int>((clamped + scaleStep / 2) / scaleStep);
    }

} // namespace

SettingsDesktop SettingsDesktop::native()
{
    SettingsDesktop desktop;
    desktop.chooseImportFile = [](QWidget *parent) -> std::optional<QString> {
        const QString chosen = QFileDialog::getOpenFileName(
            parent, QStringLiteral("导入维拉安全设置"), QString(), QStringLiteral("JSON (*.json)"));
        if (chosen.isEmpty())
            return std::nullopt;
        return chosen;
    };
    desktop.chooseExportFile = [](QWidget *parent) -> std::optional<QString> {
        QFileDialog panel(parent, QStringLiteral("导出维拉安全设置"));
        panel.setAcceptMode(QFileDialog::AcceptSave);
        panel.setFileMode(QFileDialog::AnyFile);
        panel.setNameFilter(QStringLiteral("JSON (*.json)"));
        panel.setDefaultSuffix(QStringLiteral("json"));
        panel.selectFile(QStringLiteral("维拉网络助手-设置.json"));
        if (panel.exec() != QDialog::Accepted || panel.selectedFiles().isEmpty())
            return std::nullopt;
        return panel.selectedFiles().first();
    };
    desktop.openFolder = [](const QUrl &folder) { return QDesktopServices::openUrl(folder); };
    return desktop;
}

int SettingsView::scaleForPosition(int position)
{
    return position * scaleStep;
}

SettingsView::SettingsView(AppModel &model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_desktop(SettingsDesktop::native())
{
    QVBoxLayout *column = scrollingPageColumn(this, theme::unit * 2);
    QWidget *content = column->parentWidget();
    column->addWidget(new PageHeader(
        QStringLiteral("设置"), QStringLiteral("系统级功能使用") + platformText::system() + QStringLiteral("原生接口；敏感信息不会进入导出文件。"), content));

    // Switches: each one is applied and saved by its own operation at once.
    auto *startup = card(QStringLiteral("启动与提醒"), content);
    m_startAtLogin = new ToggleSwitch(QStringLiteral("登录") + platformText::system() + QStringLiteral("后自动启动"), startup);
    m_notifications = new ToggleSwitch(QStringLiteral("显示系统通知"), startup);
    m_autoConnect = new ToggleSwitch(QStringLiteral("启动后自动连接"), startup);
    m_smartSelection = new ToggleSwitch(QStringLiteral("自动选择延迟较低的节点"), startup);
    for (ToggleSwitch *toggle : { m_startAtLogin, m_notifications, m_autoConnect, m_smartSelection })
        startup->body()->addWidget(toggle);
    QObject::connect(m_startAtLogin, &QAbstractButton::clicked, this,
        [this](bool on) { runThenRender(m_model.setStartAtLogin(on), m_startAtLogin); });
    QObject::connect(m_notifications, &QAbstractButton::clicked, this,
        [this](bool on) { runThenRender(m_model.setNotifications(on), m_notifications); });
    QObject::connect(m_autoConnect, &QAbstractButton::clicked, this,
        [this](bool on) { runThenRender(m_model.setAutoConnect(on), m_autoConnect); });
    QObject::connect(m_smartSelection, &QAbstractButton::clicked, this,
        [this](bool on) { runThenRender(m_model.setSmartSelection(on), m_smartSelection); });
    column->addWidget(startup);

    // Ports and interface scale: edited in the settings, written by "保存设置".
    auto *local = card(QStringLiteral("本地端口与界面"), content);
    m_ports = new QWidget(local);
    {
        auto *row = new QHBoxLayout(m_ports);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(theme::unit * 3 / 2);
        m_mixedPort = new PortField(QStringLiteral("混合代理"), m_ports);
        m_socksPort = new PortField(QStringLiteral("SOCKS5"), m_ports);
        m_controllerPort = new PortField(QStringLiteral("控制端口"), m_ports);
        for (PortField *field : { m_mixedPort, m_socksPort, m_controllerPort }) {
            row->addWidget(field, 1);
            QObject::connect(field, &PortField::edited, this, &SettingsView::editPorts);
        }
    }
    local->body()->addWidget(m_ports);
    {
        auto *row = new QHBoxLayout;
        row->setSpacing(theme::unit * 3 / 2);
        auto *label = new QLabel(QStringLiteral("界面字号"), local);
        m_scale = new QSlider(Qt::Horizontal, local);
        // Positions are steps of 5 %, so the keyboard, the wheel and dragging can only land on
        // 90, 95, … 140.
        m_scale->setRange(scaleMinimum / scaleStep, scaleMaximum / scaleStep);
        m_scale->setSingleStep(1);
        m_scale->setPageStep(1);
        m_scale->setTickPosition(QSlider::TicksBelow);
        m_scale->setTickInterval(1);
        m_scale->setAccessibleName(QStringLiteral("界面字号"));
        label->setBuddy(m_scale);
        m_scaleValue = new QLabel(local);
        m_scaleValue->setMinimumWidth(
            m_scaleValue->fontMetrics().horizontalAdvance(QStringLiteral("140%")) + theme::unit);
        m_scaleValue->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        row->addWidget(label);
        row->addWidget(m_scale, 1);
        row->addWidget(m_scaleValue);
        local->body()->addLayout(row);
        QObject::connect(m_scale, &QSlider::valueChanged, this,
            [this](int position) { m_model.editUiScale(scaleForPosition(position)); });
    }
    {
        auto *row = new QHBoxLayout;
        row->setSpacing(theme::unit * 2);
        row->addWidget(note(QStringLiteral("端口设置在下次连接时生效。端口限制为 1024–65535，且不能重复。"), local), 1);
        auto *saveButton = makeButton(QStringLiteral("保存设置"), local);
        saveButton->setProperty("prominent", true);
        QObject::connect(saveButton, &QPushButton::clicked, this, &SettingsView::save);
        row->addWidget(saveButton, 0, Qt::AlignBottom);
        local->body()->addLayout(row);
    }
    column->addWidget(local);

    // Repair and data.
    auto *data = card(QStringLiteral("网络修复与数据"), content);
    {
        auto *grid = new QGridLayout;
        grid->setHorizontalSpacing(theme::unit * 3 / 2);
        grid->setVerticalSpacing(theme::unit);
        m_repair = makeButton(QStringLiteral("修复系统代理"), data, QStringLiteral("arrow.triangle.2.circlepath"));
        auto *logs = makeButton(QStringLiteral("打开诊断日志"), data, QStringLiteral("doc.text"));
        m_import = makeButton(QStringLiteral("导入安全设置…"), data, QStringLiteral("arrow.down.circle"));
        auto *exportButton = makeButton(QStringLiteral("导出安全设置…"), data, QStringLiteral("arrow.right"));
        grid->addWidget(m_repair, 0, 0);
        grid->addWidget(logs, 0, 1);
        grid->addWidget(m_import, 1, 0);
        grid->addWidget(exportButton, 1, 1);
        grid->setColumnStretch(0, 1);
        grid->setColumnStretch(1, 1);
        data->body()->addLayout(grid);
        data->body()->addWidget(note(
            QStringLiteral("导入/导出使用原生文件选择器，仅包含非敏感设置；账号令牌和官方线路凭据不会导出。"), data));
        QObject::connect(m_repair, &QPushButton::clicked, this, [this] { m_model.repairNetworkSettings(); });
        QObject::connect(logs, &QPushButton::clicked, this, &SettingsView::openLogs);
        QObject::connect(m_import, &QPushButton::clicked, this, &SettingsView::importFile);
        QObject::connect(exportButton, &QPushButton::clicked, this, &SettingsView::exportFile);
    }
    column->addWidget(data);

    // Fixed notes on what this build does and does not do.
    auto *security = card(QStringLiteral("安全说明"), content);
    const std::pair<const char *, const char *> notes[] = {
        { "checkmark.shield", "代理核心为内置固定版本，启动前执行 SHA-256 完整性校验" },
        { "arrow.down.circle", "不包含来源不明的在线“最新核心”下载入口" },
        { "network", "本版本不伪装 TUN；需通过 Network Extension 签名授权后才会提供" },
        { "creditcard", "收银台只允许维拉及支付宝/微信支付的受信任 HTTPS 域名" },
    };
    for (const auto &[symbol, text] : notes) {
        auto *line = new SymbolLabel(QString::fromLatin1(symbol), QString::fromUtf8(text), security);
        line->setSymbolColor(theme::accent());
        line->textLabel()->setWordWrap(true);
        security->body()->addWidget(line);
    }
    column->addWidget(security);

    // Version and kernel.
    auto *version = card(QStringLiteral("版本与运行状态"), content);
    {
        auto *row = new QHBoxLayout;
        row->setSpacing(theme::unit * 2);
        auto *texts = new QVBoxLayout;
        texts->setSpacing(theme::unit / 2);
        auto *name = new QLabel(
            QString::fromUtf8(AppInfo::displayName) + QStringLiteral(" v") + QString::fromLatin1(AppInfo::version),
            version);
        theme::setTextRole(name, theme::TextRole::body, true);
        m_kernelState = new QLabel(version);
        theme::makeSecondary(m_kernelState);
        texts->addWidget(name);
        texts->addWidget(m_kernelState);
        m_refresh = new OperationButton(
            QStringLiteral("刷新会员与线路"), QStringLiteral("正在刷新…"), version, QStringLiteral("arrow.clockwise"));
        QObject::connect(m_refresh, &QPushButton::clicked, this,
            [this] { m_refresh->run([this] { return m_model.refreshAccount(false); }); });
        row->addLayout(texts, 1);
        row->addWidget(m_refresh, 0, Qt::AlignVCenter);
        version->body()->addLayout(row);
    }
    column->addWidget(version);
    column->addStretch(1);

    QObject::connect(&m_model, &AppModel::stateChanged, this, &SettingsView::render);
    render();
}

void SettingsView::setDesktop(SettingsDesktop desktop)
{
    m_desktop = std::move(desktop);
}

void SettingsView::render()
{
    const AppSettings &settings = m_model.settings();
    // setChecked does not count as a click, so showing a value never calls an operation. A
    // switch whose operation still runs (a permission question can take a while) keeps the
    // user's choice and waits; it shows the outcome when the operation ends.
    const std::pair<ToggleSwitch *, bool> switches[]
        = { { m_startAtLogin, settings.startAtLogin }, { m_notifications, settings.showNotifications },
              { m_autoConnect, settings.autoConnect }, { m_smartSelection, settings.smartSelection } };
    for (const auto &[toggle, on] : switches) {
        const bool pending = m_pendingSwitches.contains(toggle);
        toggle->setEnabled(!pending);
        if (!pending)
            toggle->setChecked(on);
    }

    m_mixedPort->setValue(settings.mixedPort);
    m_socksPort->setValue(settings.socksPort);
    m_controllerPort->setValue(settings.controllerPort);
    m_ports->setEnabled(!m_model.isCoreRunning());

    {
        const QSignalBlocker quiet(m_scale);
        m_scale->setValue(positionForScale(settings.uiScalePercent));
    }
    m_scaleValue->setText(QString::number(settings.uiScalePercent) + QLatin1Char('%'));

    const bool busy = m_model.isBusy();
    m_repair->setEnabled(!busy);
    m_refresh->setAvailable(!busy);
    m_kernelState->setText(
        m_model.isCoreRunning() ? QStringLiteral("网络核心正在运行") : QStringLiteral("网络核心已就绪"));
}

void SettingsView::editPorts()
{
    m_model.editPorts(m_mixedPort->value(), m_socksPort->value(), m_controllerPort->value());
}

void SettingsView::save()
{
    runThenApplyScale(m_model.saveSettings());
}

void SettingsView::importFile()
{
    if (!m_desktop.chooseImportFile)
        return;
    const std::optional<QString> chosen = m_desktop.chooseImportFile(window());
    if (!chosen)
        return;
    runThenApplyScale(m_model.importSettings(*chosen));
}

void SettingsView::exportFile()
{
    if (!m_desktop.chooseExportFile)
        return;
    const std::optional<QString> chosen = m_desktop.chooseExportFile(window());
    if (!chosen)
        return;
    m_model.exportSettings(*chosen);
}

void SettingsView::openLogs()
{
    const QString folder = m_model.diagnosticLogFolder();
    if (!m_desktop.openFolder || !m_desktop.openFolder(QUrl::fromLocalFile(folder)))
        m_model.present(QStringLiteral("无法打开诊断日志目录：") + folder);
}

void SettingsView::runThenRender(QCoro::Task<> operation, QAbstractButton *toggle)
{
    if (toggle) {
        m_pendingSwitches.insert(toggle);
        render();
    }
    QPointer<SettingsView> self(this);
    renderAfter(std::move(operation), self, toggle, false);
}

void SettingsView::runThenApplyScale(QCoro::Task<> operation)
{
    QPointer<SettingsView> self(this);
    renderAfter(std::move(operation), self, nullptr, true);
}

QCoro::Task<> SettingsView::renderAfter(
    QCoro::Task<> operation, QPointer<SettingsView> view, QAbstractButton *toggle, bool applyScale)
{
    co_await std::move(operation);
    if (!view)
        co_return;
    view->m_pendingSwitches.remove(toggle);
    view->render();
    if (applyScale)
        view->applyScale();
}

void SettingsView::applyScale()
{
    // The scale on screen follows the settings once they are valid to keep; a record the save
    // refused leaves the interface as it was.
    const AppSettings &settings = m_model.settings();
    try {
        settings.validate();
    } catch (const std::exception &) {
        return;
    }
    theme::setScalePercent(static_cast<int>(settings.uiScalePercent));
}

} // namespace veyra::ui
