#include "StatusPill.h"

#include "Theme.h"

namespace veyra::ui {

StatusPill::StatusPill(const QString &title, const QColor &color, QWidget *parent)
    : QLabel(title, parent)
    , m_color(color)
{
    setObjectName(QStringLiteral("StatusPill"));
    theme::setTextRole(this, theme::TextRole::caption, true);
    setAlignment(Qt::AlignCenter);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(title);
    restyle();
}

void StatusPill::setTitle(const QString &title)
{
    setText(title);
    setAccessibleName(title);
}

void StatusPill::setColor(const QColor &color)
{
    if (color == m_color)
        return;
    m_color = color;
    restyle();
}

void StatusPill::restyle()
{
    QColor tint = m_color;
    tint.setAlphaF(0.14);
    setStyleSheet(QStringLiteral("QLabel#StatusPill { color: %1; background: rgba(%2, %3, %4, %5); }")
                      .arg(m_color.name())
                      .arg(tint.red())
                      .arg(tint.green())
                      .arg(tint.blue())
                      .arg(tint.alphaF()));
}

} // namespace veyra::ui
