#include "SegmentedControl.h"

#include "Icons.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QPushButton>
#include <QStyle>

namespace veyra::ui {

SegmentedControl::SegmentedControl(QWidget *parent)
    : QWidget(parent)
    , m_group(new QButtonGroup(this))
    , m_layout(new QHBoxLayout(this))
{
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    m_group->setExclusive(true);
    connect(m_group, &QButtonGroup::idClicked, this, [this](int id) {
        if (id >= 0 && id < m_values.size())
            emit activated(m_values.at(id));
    });
}

QPushButton *SegmentedControl::addSegment(const QString &text, const QVariant &value, const QString &systemImage)
{
    auto *button = new QPushButton(text, this);
    button->setCheckable(true);
    button->setAccessibleName(text);
    if (!systemImage.isEmpty())
        // White on the checked segment's accent fill, like its text.
        button->setIcon(symbolIcon(systemImage, {}, QColor(Qt::white)));
    m_group->addButton(button, static_cast<int>(m_segments.size()));
    m_layout->addWidget(button);
    m_segments << button;
    m_values << value;
    restyle();
    return button;
}

void SegmentedControl::setCurrentValue(const QVariant &value)
{
    const qsizetype index = m_values.indexOf(value);
    if (index >= 0)
        m_segments.at(index)->setChecked(true);
}

QVariant SegmentedControl::currentValue() const
{
    const int id = m_group->checkedId();
    return id >= 0 ? m_values.at(id) : QVariant();
}

QPushButton *SegmentedControl::segment(const QVariant &value) const
{
    const qsizetype index = m_values.indexOf(value);
    return index >= 0 ? m_segments.at(index) : nullptr;
}

void SegmentedControl::restyle()
{
    for (qsizetype i = 0; i < m_segments.size(); ++i) {
        const char *position = m_segments.size() == 1 ? "only"
            : i == 0                                  ? "first"
            : i == m_segments.size() - 1              ? "last"
                                                      : "middle";
        QPushButton *button = m_segments.at(i);
        button->setProperty("segment", QString::fromLatin1(position));
        button->style()->unpolish(button);
        button->style()->polish(button);
    }
}

} // namespace veyra::ui
