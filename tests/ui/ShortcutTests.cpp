// The window's keyboard: the pages by number and the node search.
#include "MainWindow.h"
#include "NodesView.h"
#include "RootView.h"
#include "UiTestSupport.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QMenuBar>
#include <QTest>

using namespace veyra;
using namespace veyra::test;
using namespace veyra::ui;

namespace {

TEST(MainWindowShortcuts, NumbersOpenThePagesInSidebarOrderAndCtrlFSearchesTheNodes)
{
    StagedModel model;
    model.becomeMember();
    MainWindow window(model);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    struct Key {
        Qt::Key key;
        AppPage page;
    };
    const Key keys[] = { { Qt::Key_5, AppPage::settings }, { Qt::Key_2, AppPage::nodes },
        { Qt::Key_4, AppPage::account }, { Qt::Key_3, AppPage::membership }, { Qt::Key_1, AppPage::dashboard } };
    for (const Key &key : keys) {
        QTest::keyClick(&window, key.key, Qt::ControlModifier);
        EXPECT_EQ(model.selectedPage(), key.page) << "Ctrl+" << QKeySequence(key.key).toString().toStdString();
    }

    // On another page the search has nowhere to go; on the nodes page it takes the focus.
    QLineEdit *search = static_cast<NodesView *>(window.rootView()->page(AppPage::nodes))->searchField();
    QTest::keyClick(&window, Qt::Key_F, Qt::ControlModifier);
    EXPECT_FALSE(search->hasFocus());
    QTest::keyClick(&window, Qt::Key_2, Qt::ControlModifier);
    QTest::keyClick(&window, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(search->hasFocus());

    // Listed with their keys where the window lists its other shortcuts.
    QStringList listed;
    for (QAction *menu : window.menuBar()->actions())
        for (QAction *action : menu->menu()->actions())
            if (!action->shortcut().isEmpty())
                listed << action->shortcut().toString();
    for (const char *shortcut : { "Ctrl+1", "Ctrl+2", "Ctrl+3", "Ctrl+4", "Ctrl+5", "Ctrl+F", "Ctrl+Shift+C", "Ctrl+Q" })
        EXPECT_TRUE(listed.contains(QLatin1String(shortcut))) << shortcut;
}

} // namespace
