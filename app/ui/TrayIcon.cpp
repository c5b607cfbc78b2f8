#include "TrayIcon.h"

#include "SpeedFormat.h"

#include <QSystemTrayIcon>

namespace veyra::ui {

TrayIcon::TrayIcon(AppModel &model, QMenu *menu, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_tray(new QSystemTrayIcon(this))
{
    m_tray->setContextMenu(menu);
    QObject::connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            emit activated();
    });
    QObject::connect(&m_model, &AppModel::stateChanged, this, &TrayIcon::render);
    QObject::connect(&m_model, &AppModel::speedChanged, this, &TrayIcon::renderToolTip);
    render();
    m_tray->show();
}

QString TrayIcon::toolTip(const AppModel &model)
{
    QStringList lines { AppModel::notificationTitle(), model.statusMessage() };
    if (model.membershipActive()) {
        QString node = model.activeNodeName();
        if (const std::optional<int> delay = model.currentDelay())
            node += QStringLiteral(" · %1 ms").arg(*delay);
        lines << node;
    }
    if (const std::optional<TrafficRateSample> rate = model.currentSpeed())
        lines << speedText(*rate);
    return lines.join(QLatin1Char('\n'));
}

void TrayIcon::confirm(const QString &text)
{
    m_tray->showMessage(AppModel::notificationTitle(), text, QSystemTrayIcon::NoIcon, 1500);
}

void TrayIcon::render()
{
    // Redrawn only when the look changes: some trays flicker on every new icon.
    const TrayLook look = trayLook(m_model);
    if (look != m_look || m_tray->icon().isNull()) {
        m_look = look;
        m_tray->setIcon(trayGlyph(look));
    }
    renderToolTip();
}

void TrayIcon::renderToolTip()
{
    const QString text = toolTip(m_model);
    if (m_tray->toolTip() != text)
        m_tray->setToolTip(text);
}

} // namespace veyra::ui
