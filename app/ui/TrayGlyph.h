#pragma once

#include "AppModel.h"

#include <QColor>
#include <QIcon>
#include <QString>

namespace veyra::ui {

// What the tray icon shows for the model's state: a disc in the state's colour (grey while
// disconnected, accent blue while connecting or disconnecting, green while connected, orange
// on a slow line, red after a failure) holding the symbol in white.
struct TrayLook {
    QString state; // "disconnected", "connecting", "connected", "failed": for tests and tools
    QColor fill;
    QString symbol;
    bool operator==(const TrayLook &) const = default;
};
TrayLook trayLook(const AppModel &model);

// The drawing itself, made for each request at the size and pixel ratio the tray asks for. A
// light ring around the disc keeps it apart from a dark panel, the disc's mid-tone colours
// from a light one.
QIcon trayGlyph(const TrayLook &look);

} // namespace veyra::ui
