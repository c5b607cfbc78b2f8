#include "EmptyStateView.h"

#include "Controls.h"
#include "Icons.h"
#include "Theme.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace veyra::ui {

EmptyStateView::EmptyStateView(
    const QString &title, const QString &systemImage, const QString &description, QWidget *parent)
    : QWidget(parent)
    , m_icon(new QLabel(this))
    , m_title(new QLabel(this))
    , m_description(new QLabel(this))
    , m_layout(new QVBoxLayout(this))
{
    m_layout->setContentsMargins(theme::unit * 3, theme::unit * 4, theme::unit * 3, theme::unit * 4);
    m_layout->setSpacing(theme::unit);
    m_layout->addStretch(1);
    m_layout->addWidget(m_icon, 0, Qt::AlignHCenter);
    m_layout->addSpacing(theme::unit / 2);
    m_layout->addWidget(m_title);
    // A wrapped label gets its full height only when the layout gives it a definite width.
    auto *descriptionRow = new QHBoxLayout;
    descriptionRow->addStretch(1);
    descriptionRow->addWidget(m_description, 4);
    descriptionRow->addStretch(1);
    m_layout->addLayout(descriptionRow);
    m_layout->addStretch(1);

    theme::setTextRole(m_title, theme::TextRole::headline, true);
    m_title->setAlignment(Qt::AlignCenter);
    m_description->setAlignment(Qt::AlignCenter);
    m_description->setWordWrap(true);
    m_description->setMinimumWidth(240);
    theme::makeSecondary(m_description);
    setContent(title, systemImage, description);
}

void EmptyStateView::setContent(const QString &title, const QString &systemImage, const QString &description)
{
    m_title->setText(title);
    m_description->setText(description);
    setAccessibleName(title);
    setAccessibleDescription(description);
    if (systemImage != m_systemImage || m_icon->pixmap().isNull()) {
        m_systemImage = systemImage;
        renderIcon();
    }
}

QPushButton *EmptyStateView::addButton(const QString &text, const QString &systemImage)
{
    QPushButton *button = makeButton(text, this, systemImage);
    addButton(button);
    return button;
}

void EmptyStateView::addButton(QPushButton *button)
{
    // Before the closing stretch, so that the button sits under the description.
    button->setParent(this);
    m_layout->insertWidget(m_layout->count() - 1, button, 0, Qt::AlignHCenter);
}

QString EmptyStateView::title() const
{
    return m_title->text();
}
QString EmptyStateView::description() const
{
    return m_description->text();
}

void EmptyStateView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        renderIcon();
    QWidget::changeEvent(event);
}

void EmptyStateView::renderIcon()
{
    const int size = fontMetrics().height() * 3;
    showSymbol(m_icon, m_systemImage, size, theme::secondaryText());
}

} // namespace veyra::ui
