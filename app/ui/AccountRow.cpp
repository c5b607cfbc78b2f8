#include "AccountRow.h"

#include "Theme.h"

#include <QHBoxLayout>
#include <QLabel>

namespace veyra::ui {

AccountRow::AccountRow(const QString &title, const QString &value, QWidget *parent)
    : QWidget(parent)
    , m_title(new QLabel(title, this))
    , m_value(new QLabel(value, this))
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, theme::unit / 2, 0, theme::unit / 2);
    row->setSpacing(theme::unit * 2);
    row->addWidget(m_title);
    row->addStretch(1);
    row->addWidget(m_value);
    theme::makeSecondary(m_title);
    m_value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    setValue(value);
}

void AccountRow::setValue(const QString &value)
{
    m_value->setText(value);
    setAccessibleName(m_title->text() + QStringLiteral("：") + value);
}

QString AccountRow::title() const { return m_title->text(); }
QString AccountRow::value() const { return m_value->text(); }

} // namespace veyra::ui
