#include "UiTestSupport.h"

#include "StatusPill.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>

namespace veyra::test {

QStringList visibleTexts(const QWidget *root)
{
    QStringList texts;
    for (QWidget *widget : root->findChildren<QWidget *>()) {
        if (!widget->isVisibleTo(const_cast<QWidget *>(root)))
            continue;
        if (auto *button = qobject_cast<QAbstractButton *>(widget); button && !button->text().isEmpty())
            texts << button->text();
        else if (auto *label = qobject_cast<QLabel *>(widget); label && !label->text().isEmpty())
            texts << label->text();
    }
    return texts;
}

bool showsText(const QWidget *root, const QString &text)
{
    return visibleTexts(root).contains(text);
}

QAbstractButton *findButton(const QWidget *root, const QString &text)
{
    for (QAbstractButton *button : root->findChildren<QAbstractButton *>())
        if (button->isVisibleTo(root) && button->text() == text)
            return button;
    return nullptr;
}

QString pillText(const QWidget *root)
{
    for (ui::StatusPill *pill : root->findChildren<ui::StatusPill *>())
        if (pill->isVisibleTo(root))
            return pill->title();
    return {};
}

bool press(const QWidget *root, const QString &text)
{
    QAbstractButton *button = findButton(root, text);
    if (button)
        QTest::mouseClick(button, Qt::LeftButton);
    return button;
}

QStringList menuTexts(const QMenu *menu)
{
    QStringList texts;
    for (QAction *action : menu->actions())
        if (action->isVisible())
            texts << (action->isSeparator() ? QStringLiteral("—") : action->text());
    return texts;
}

QAction *menuAction(const QMenu *menu, const QString &text)
{
    for (QAction *action : menu->actions())
        if (action->isVisible() && action->text() == text)
            return action;
    return nullptr;
}

QMenu *submenu(const QMenu *menu, const QString &title)
{
    QAction *entry = menuAction(menu, title);
    return entry ? entry->menu() : nullptr;
}

QStringList marked(const QMenu *menu)
{
    QStringList titles;
    for (QAction *action : menu->actions())
        if (action->property("symbol").toString() == QLatin1String("checkmark"))
            titles << action->text();
    return titles;
}

void StagedModel::becomeMember()
{
    AccountUser member;
    member.account = QStringLiteral("13800000000");
    member.membership.emplace().active = true;
    setUser(member);
}

bool waitUntil(const std::function<bool()> &condition, int limitMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > limitMs)
            return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

} // namespace veyra::test
