#pragma once

#include <QColor>
#include <QString>

class QApplication;
class QWidget;

namespace veyra::ui {

// The one look of the interface: palette, colours with a meaning, spacing and text sizes.
namespace theme {

// Spacing grid: every margin and gap is a multiple of this.
inline constexpr int unit = 8;

QColor accent();
QColor green();
QColor orange();
QColor red();
QColor text();
QColor secondaryText();
QColor windowBackground();
QColor cardBackground();
QColor separator();

// A label's text in a colour of its own (the palette's WindowText); secondary text is the
// grey of captions, notes and explanations.
void setTextColor(QWidget *widget, const QColor &color);
void makeSecondary(QWidget *widget);

// Latency colours: green below 100 ms, orange to 249 ms, red from 250 ms.
QColor latencyColor(qint64 milliseconds);

// Fusion style, the light palette, the style sheet and the base font (Noto Sans CJK).
void apply(QApplication &application);

// Text sizes relative to the base font, so that a change of the interface scale reaches
// every label at once.
enum class TextRole { body, caption, small, headline, title, largeTitle, display };
void setTextRole(QWidget *widget, TextRole role, bool bold = false);

// Makes Qt drop every font it has loaded (the CJK faces alone keep about 12 MB mapped, and
// their glyph caches more); the next text drawn loads what it needs again. For the time the
// application lives in the tray with nothing to draw but its icon.
void releaseLoadedFonts();

// Scales the whole interface's text (90–140 %), live.
void setScalePercent(int percent);
int scalePercent();

} // namespace theme

} // namespace veyra::ui
