#pragma once

#include <QCheckBox>

namespace veyra::ui {

// An on/off switch: the text on the left, the switch at the trailing edge. A check box
// underneath, so keyboard use and accessibility work as for any check box.
class ToggleSwitch : public QCheckBox {
    Q_OBJECT
public:
    explicit ToggleSwitch(const QString &text, QWidget *parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool hitButton(const QPoint &position) const override;

private:
    QSize trackSize() const;
};

} // namespace veyra::ui
