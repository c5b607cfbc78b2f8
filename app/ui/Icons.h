#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace veyra::ui {

// The bundled drawing of a system symbol name ("checkmark.shield.fill"), in the palette's text
// colour unless a colour is given. An unknown name gives an empty icon (and a warning once).
QIcon symbolIcon(const QString &symbol, const QColor &color = {});
// The same at a size in device-independent pixels, for the given device pixel ratio.
QPixmap symbolPixmap(const QString &symbol, int size, const QColor &color = {}, qreal devicePixelRatio = 1.0);
bool hasSymbol(const QString &symbol);

} // namespace veyra::ui
