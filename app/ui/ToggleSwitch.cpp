#include "ToggleSwitch.h"

#include "Theme.h"

#include <QPainter>
#include <QPainterPath>

namespace veyra::ui {

ToggleSwitch::ToggleSwitch(const QString &text, QWidget *parent)
    : QCheckBox(text, parent)
{
    setAccessibleName(text);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize ToggleSwitch::trackSize() const
{
    const int height = fontMetrics().height() + 4;
    return { height * 7 / 4, height };
}

QSize ToggleSwitch::sizeHint() const
{
    const QSize track = trackSize();
    return { fontMetrics().horizontalAdvance(text()) + theme::unit * 2 + track.width(),
        std::max(track.height(), fontMetrics().height()) + theme::unit / 2 };
}

QSize ToggleSwitch::minimumSizeHint() const { return sizeHint(); }

bool ToggleSwitch::hitButton(const QPoint &position) const { return rect().contains(position); }

void ToggleSwitch::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QSize track = trackSize();
    const QRectF trackRect(width() - track.width() - 1, (height() - track.height()) / 2.0, track.width(),
        track.height());

    QColor on = theme::accent();
    QColor off(0xc9, 0xcd, 0xd3);
    if (!isEnabled()) {
        on.setAlphaF(0.45);
        off.setAlphaF(0.6);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(isChecked() ? on : off);
    painter.drawRoundedRect(trackRect, track.height() / 2.0, track.height() / 2.0);
    const double knob = track.height() - 4;
    const double x = isChecked() ? trackRect.right() - knob - 2 : trackRect.left() + 2;
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(x, trackRect.top() + 2, knob, knob));
    if (hasFocus()) {
        painter.setPen(QPen(theme::accent(), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(trackRect.adjusted(-2, -2, 2, 2), track.height() / 2.0 + 2, track.height() / 2.0 + 2);
    }

    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    const QRect textRect(0, 0, static_cast<int>(trackRect.left()) - theme::unit, height());
    painter.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, text());
}

} // namespace veyra::ui
