#pragma once

#include <QVariant>
#include <QWidget>

class QButtonGroup;
class QHBoxLayout;
class QPushButton;

namespace veyra::ui {

// A row of joined buttons of which exactly one is chosen. activated() reports a choice made by
// the user; setCurrentValue() only shows one.
class SegmentedControl : public QWidget {
    Q_OBJECT
public:
    explicit SegmentedControl(QWidget *parent = nullptr);
    QPushButton *addSegment(const QString &text, const QVariant &value, const QString &systemImage = {});
    void setCurrentValue(const QVariant &value);
    QVariant currentValue() const;
    QPushButton *segment(const QVariant &value) const;
    QList<QPushButton *> segments() const { return m_segments; }

signals:
    void activated(const QVariant &value);

private:
    void restyle();

    QButtonGroup *m_group;
    QHBoxLayout *m_layout;
    QList<QPushButton *> m_segments;
    QList<QVariant> m_values;
};

} // namespace veyra::ui
