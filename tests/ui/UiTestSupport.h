#pragma once

#include "AppModel.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMenu>
#include <QStringList>

#include <functional>

namespace veyra::test {

// What a person sees in a widget tree: the texts of the shown labels and buttons, in tree order.
QStringList visibleTexts(const QWidget *root);
bool showsText(const QWidget *root, const QString &text);

// The shown button whose text is exactly `text`, or null.
QAbstractButton *findButton(const QWidget *root, const QString &text);
// The title of the first shown status pill in a widget tree.
QString pillText(const QWidget *root);
// Clicks the shown button with that text as a person would; false when there is none.
bool press(const QWidget *root, const QString &text);

// The entries of a menu as a person reads them (separators as "—"), and an entry by its text.
QStringList menuTexts(const QMenu *menu);
QAction *menuAction(const QMenu *menu, const QString &text);
QMenu *submenu(const QMenu *menu, const QString &title);
// The titles of the entries that carry the check mark.
QStringList marked(const QMenu *menu);

// A model whose published state a view test sets directly, without a service or a kernel.
class StagedModel : public AppModel {
public:
    using AppModel::recordSpeed;
    using AppModel::setConnectionFailed;
    using AppModel::setIsConnected;
    using AppModel::setIsCoreRunning;
    using AppModel::setNodes;
    using AppModel::setSettings;
    using AppModel::setStatusMessage;

    // Signed in with an active membership.
    void becomeMember();
};

// A node of the official line, as the kernel reports it.
inline NodeItem node(const char *name, const char *region, int delay, const char *flag = "🏳")
{
    return NodeItem { name, region, flag, delay, "veyra_official" };
}

// Turns the event loop until the condition holds or the limit passes; answers the condition.
bool waitUntil(const std::function<bool()> &condition, int limitMs = 5000);

} // namespace veyra::test
