#pragma once

#include <QColor>
#include <QIcon>
#include <QIconEngine>
#include <QPixmap>
#include <QString>

class QLabel;

namespace veyra::ui {

// An icon that draws itself for each request: a subclass paints, and every pixmap is painted
// afresh at the size and pixel ratio asked for (Qt asks with the target screen's ratio), never
// scaled up from a smaller one.
class PaintedIconEngine : public QIconEngine {
public:
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override;
    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state, qreal scale) override;
};

// The bundled drawing of a system symbol name ("checkmark.shield.fill"), in the palette's text
// colour unless a colour is given, and in `checkedColor` (when given) on a checked button. It
// is drawn for each request at the size and pixel ratio asked for. An unknown name gives an
// empty icon (and a warning once).
QIcon symbolIcon(const QString &symbol, const QColor &color = {}, const QColor &checkedColor = {});
// The same at a size in device-independent pixels, for the given device pixel ratio.
QPixmap symbolPixmap(const QString &symbol, int size, const QColor &color = {}, qreal devicePixelRatio = 1.0);
bool hasSymbol(const QString &symbol);
// Shows the symbol in a label at the label's pixel ratio, and draws it again when the window
// moves to a screen of another scale (a pixmap made once would go blurry there).
void showSymbol(QLabel *label, const QString &symbol, int size, const QColor &color = {});

} // namespace veyra::ui
