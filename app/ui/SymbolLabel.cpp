#include "SymbolLabel.h"

#include "Icons.h"
#include "Theme.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>

namespace veyra::ui {

SymbolLabel::SymbolLabel(const QString &symbol, const QString &text, QWidget *parent)
    : QWidget(parent)
    , m_icon(new QLabel(this))
    , m_text(new QLabel(text, this))
    , m_symbol(symbol)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(theme::unit * 3 / 4);
    layout->addWidget(m_icon, 0, Qt::AlignVCenter);
    layout->addWidget(m_text, 1, Qt::AlignVCenter);
    m_text->setTextInteractionFlags(Qt::NoTextInteraction);
    setAccessibleName(text);
    renderSymbol();
}

void SymbolLabel::setSymbol(const QString &symbol)
{
    if (symbol == m_symbol)
        return;
    m_symbol = symbol;
    renderSymbol();
}

void SymbolLabel::setText(const QString &text)
{
    if (m_text->text() != text)
        m_text->setText(text);
    setAccessibleName(text);
}

QString SymbolLabel::text() const { return m_text->text(); }

void SymbolLabel::setColor(const QColor &color)
{
    setSymbolColor(color);
    setTextColor(color);
}

void SymbolLabel::setSymbolColor(const QColor &color)
{
    if (color == m_symbolColor)
        return;
    m_symbolColor = color;
    renderSymbol();
}

void SymbolLabel::setTextColor(const QColor &color)
{
    theme::setTextColor(m_text, color.isValid() ? color : theme::text());
}

void SymbolLabel::setSymbolScale(double scale)
{
    m_symbolScale = scale;
    renderSymbol();
}

void SymbolLabel::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange) {
        // A style sheet stops fonts from reaching children by themselves.
        m_text->setFont(font());
        renderSymbol();
    } else if (event->type() == QEvent::EnabledChange) {
        renderSymbol();
    }
    QWidget::changeEvent(event);
}

void SymbolLabel::renderSymbol()
{
    m_icon->setVisible(!m_symbol.isEmpty());
    if (m_symbol.isEmpty())
        return;
    const int size = qRound(fontMetrics().height() * m_symbolScale);
    QColor color = m_symbolColor.isValid() ? m_symbolColor : theme::text();
    if (!isEnabled())
        color.setAlphaF(0.38);
    showSymbol(m_icon, m_symbol, size, color);
    m_icon->setFixedSize(size, size);
}

} // namespace veyra::ui
