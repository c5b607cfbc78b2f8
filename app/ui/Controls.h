#pragma once

#include <QPushButton>
#include <QStringList>

class QProgressBar;

namespace veyra::ui {

// A push button named for assistive technology by its text, with a symbol before the text
// when one is given.
QPushButton *makeButton(const QString &text, QWidget *parent, const QString &symbol = {});

// Sets a property the style sheet selects on ("prominent", "tint") and has the widget drawn
// again by it; nothing happens when the value is already set.
void setStyleProperty(QWidget *widget, const char *name, const QVariant &value);

// A small indeterminate bar of a fixed width. It keeps its room while hidden, so nothing beside
// it moves when it comes and goes.
QProgressBar *makeBusyBar(int width, QWidget *parent);

// A button as wide as the widest of the labels it takes in turn, so that its neighbours do
// not move when its text changes. Its symbol grows with its text.
class SteadyButton : public QPushButton {
    Q_OBJECT
public:
    SteadyButton(QStringList labels, QWidget *parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void changeEvent(QEvent *event) override;

private:
    QStringList m_labels;
};

} // namespace veyra::ui
