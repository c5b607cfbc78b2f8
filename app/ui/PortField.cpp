#include "PortField.h"

#include "Theme.h"

#include <QLabel>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

namespace veyra::ui {

PortField::PortField(const QString &title, QWidget *parent)
    : QWidget(parent)
    , m_title(new QLabel(title, this))
    , m_spin(new QSpinBox(this))
{
    theme::makeSecondary(m_title);
    theme::setTextRole(m_title, theme::TextRole::small);
    m_title->setBuddy(m_spin);

    // The whole port range: a port below 1024 is refused by the save with its own message.
    m_spin->setRange(1, 65535);
    m_spin->setGroupSeparatorShown(false);
    m_spin->setButtonSymbols(QAbstractSpinBox::NoButtons);
    m_spin->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_spin->setAccessibleName(title);
    // Drawn like the text fields of the rest of the interface.
    m_spin->setStyleSheet(QStringLiteral("QSpinBox { background: %1; border: 1px solid #c8ccd2; border-radius: 6px; "
                                         "padding: 5px 8px; }"
                                         "QSpinBox:focus { border: 2px solid %2; padding: 4px 7px; }"
                                         "QSpinBox:disabled { background: #f2f3f5; color: #a4a8ae; }")
                              .arg(theme::cardBackground().name(), theme::accent().name()));
    // Every accepted keystroke reaches the settings, so "保存设置" saves what is on screen.
    m_spin->setKeyboardTracking(true);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(theme::unit / 2);
    column->addWidget(m_title);
    column->addWidget(m_spin);

    QObject::connect(m_spin, &QSpinBox::valueChanged, this, [this](int value) { emit edited(value); });
}

QString PortField::title() const { return m_title->text(); }
qint64 PortField::value() const { return m_spin->value(); }

void PortField::setValue(qint64 value)
{
    if (value == m_spin->value())
        return;
    const QSignalBlocker quiet(m_spin);
    m_spin->setValue(static_cast<int>(value));
}

} // namespace veyra::ui
