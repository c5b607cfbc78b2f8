#pragma once

#include <QCoroTask>
#include <QPointer>
#include <QPushButton>
#include <QStringList>

#include <functional>

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

// Calls `then` once a model operation started from a control has ended, unless `context` has
// gone by then. A control that showed the user's choice at once shows the model's value
// again afterwards, whether the change went through or was refused.
void whenDone(QObject *context, QCoro::Task<> operation, std::function<void()> then);

// A button that starts a model operation and shows it at work: while the operation runs it
// reads its working label, is disabled, and a second press starts nothing.
class OperationButton : public SteadyButton {
    Q_OBJECT
public:
    OperationButton(const QString &text, const QString &workingText, QWidget *parent, const QString &symbol = {});
    // Runs `operation` unless one is running already (the new one is then dropped unstarted).
    void run(std::function<QCoro::Task<>()> operation);
    // Whether the model allows the operation now; the button is usable when it does and no
    // operation of its own is running.
    void setAvailable(bool available);
    bool isWorking() const { return m_working; }

private:
    static QCoro::Task<> follow(QPointer<OperationButton> button, QCoro::Task<> operation);
    void setWorking(bool working);

    QString m_text;
    QString m_workingText;
    bool m_available = true;
    bool m_working = false;
};

} // namespace veyra::ui
