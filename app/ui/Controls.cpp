#include "Controls.h"

#include "Icons.h"

#include <QEvent>
#include <QProgressBar>
#include <QStyle>

namespace veyra::ui {

QPushButton *makeButton(const QString &text, QWidget *parent, const QString &symbol)
{
    auto *button = new QPushButton(text, parent);
    if (!symbol.isEmpty())
        button->setIcon(symbolIcon(symbol));
    button->setAccessibleName(text);
    return button;
}

void setStyleProperty(QWidget *widget, const char *name, const QVariant &value)
{
    if (widget->property(name) == value)
        return;
    widget->setProperty(name, value);
    widget->style()->unpolish(widget);
    widget->style()->polish(widget);
}

QProgressBar *makeBusyBar(int width, QWidget *parent)
{
    auto *bar = new QProgressBar(parent);
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    bar->setFixedWidth(width);
    bar->setAccessibleName(QStringLiteral("正在处理"));
    QSizePolicy keepRoom = bar->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    bar->setSizePolicy(keepRoom);
    return bar;
}

SteadyButton::SteadyButton(QStringList labels, QWidget *parent)
    : QPushButton(labels.value(0), parent)
    , m_labels(std::move(labels))
{
}

QSize SteadyButton::sizeHint() const
{
    QSize size = QPushButton::sizeHint();
    int widest = 0;
    for (const QString &label : m_labels)
        widest = std::max(widest, fontMetrics().horizontalAdvance(label));
    size.setWidth(size.width() + std::max(0, widest - fontMetrics().horizontalAdvance(text())));
    return size;
}

QSize SteadyButton::minimumSizeHint() const
{
    return sizeHint();
}

void SteadyButton::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange) {
        const int side = fontMetrics().height() * 4 / 5;
        setIconSize({ side, side });
    }
    QPushButton::changeEvent(event);
}

namespace {
QCoro::Task<> followThen(QPointer<QObject> context, QCoro::Task<> operation, std::function<void()> then)
{
    co_await std::move(operation);
    if (context)
        then();
}
} // namespace

void whenDone(QObject *context, QCoro::Task<> operation, std::function<void()> then)
{
    followThen(QPointer<QObject>(context), std::move(operation), std::move(then));
}

OperationButton::OperationButton(
    const QString &text, const QString &workingText, QWidget *parent, const QString &symbol)
    : SteadyButton({ text, workingText }, parent)
    , m_text(text)
    , m_workingText(workingText)
{
    if (!symbol.isEmpty())
        setIcon(symbolIcon(symbol));
    setAccessibleName(text);
}

void OperationButton::run(std::function<QCoro::Task<>()> operation)
{
    if (m_working)
        return;
    setWorking(true);
    follow(QPointer<OperationButton>(this), operation());
}

QCoro::Task<> OperationButton::follow(QPointer<OperationButton> button, QCoro::Task<> operation)
{
    co_await std::move(operation);
    if (button)
        button->setWorking(false);
}

void OperationButton::setAvailable(bool available)
{
    m_available = available;
    setEnabled(m_available && !m_working);
}

void OperationButton::setWorking(bool working)
{
    m_working = working;
    setText(working ? m_workingText : m_text);
    setEnabled(m_available && !m_working);
}

} // namespace veyra::ui
