#pragma once

#include "AppModel.h"
#include "TrayGlyph.h"

#include <QObject>

class QMenu;
class QSystemTrayIcon;

namespace veyra::ui {

// The tray icon: its drawing tells the connection's state, its tooltip the product, the state
// line, the node with its latency and, while connected, the current speeds.
class TrayIcon : public QObject {
    Q_OBJECT
public:
    TrayIcon(AppModel &model, QMenu *menu, QObject *parent = nullptr);

    QSystemTrayIcon *tray() const { return m_tray; }
    const TrayLook &look() const { return m_look; }
    static QString toolTip(const AppModel &model);
    // A short confirmation beside the icon ("已复制").
    void confirm(const QString &text);

signals:
    void activated();

private:
    void render();
    void renderToolTip();

    AppModel &m_model;
    QSystemTrayIcon *m_tray;
    TrayLook m_look;
};

} // namespace veyra::ui
