// Every control a person can use is named for assistive technology and reachable with Tab, on
// every page and sheet; and the window's connection command follows the connection.
#include "ModelWorld.h"
#include "ServiceWorld.h"
#include "UiTestSupport.h"

#include "AuthenticationView.h"
#include "CheckoutView.h"
#include "MainWindow.h"
#include "Navigation.h"
#include "NodesView.h"
#include "RootView.h"

#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QScrollBar>
#include <QTableWidget>
#include <QTest>

using namespace veyra;
using namespace veyra::test;
using namespace veyra::ui;

namespace {

bool isControl(const QWidget *widget)
{
    return qobject_cast<const QAbstractButton *>(widget) || qobject_cast<const QLineEdit *>(widget)
        || qobject_cast<const QComboBox *>(widget) || qobject_cast<const QAbstractSlider *>(widget)
        || qobject_cast<const QAbstractSpinBox *>(widget) || qobject_cast<const QListWidget *>(widget)
        || qobject_cast<const QTableWidget *>(widget);
}

// Parts of another control are used and announced through it: a scroll area's bars (Tab to what
// is inside scrolls it), the symbol and clear buttons inside a text field, a spin box's or a
// combo box's own pieces.
bool isPartOfAnotherControl(const QWidget *widget, const QWidget *root)
{
    if (qobject_cast<const QScrollBar *>(widget))
        return true;
    for (const QWidget *up = widget->parentWidget(); up && up != root; up = up->parentWidget())
        if (qobject_cast<const QLineEdit *>(up) || qobject_cast<const QAbstractSpinBox *>(up)
            || qobject_cast<const QComboBox *>(up))
            return true;
    return false;
}

// What the control is announced as: the accessible name set on it, else the text a person sees
// in it (a button's text, an empty field's placeholder), else the label that names it (a label
// whose buddy it is). A value (a combo box's choice, a slider's position) names nothing.
QString spokenName(QWidget *widget)
{
    QString name = widget->accessibleName();
    if (name.trimmed().isEmpty()) {
        if (auto *button = qobject_cast<QAbstractButton *>(widget))
            name = button->text();
        else if (auto *field = qobject_cast<QLineEdit *>(widget))
            name = field->placeholderText();
    }
    if (name.trimmed().isEmpty())
        for (QLabel *label : widget->window()->findChildren<QLabel *>())
            if (label->buddy() == widget)
                name = label->text();
    return name.remove(QLatin1Char('&')).trimmed();
}

// The faults of the shown controls of a window, each reported once.
class Audit {
public:
    void check(QWidget *window, const QString &where)
    {
        QCoreApplication::processEvents();
        for (QWidget *widget : window->findChildren<QWidget *>()) {
            if (widget->window() != window || !widget->isVisibleTo(window) || !isControl(widget)
                || isPartOfAnotherControl(widget, window))
                continue;
            checked.insert(widget);
            // Disabled controls too: they are announced (dimmed) and become reachable when enabled.
            if (spokenName(widget).isEmpty())
                report(widget, where, "no accessible name or text");
            if ((widget->focusPolicy() & Qt::TabFocus) != Qt::TabFocus)
                report(widget, where, "not reachable with Tab");
        }
    }
    std::string faults() const { return QStringList(m_faults.values()).join(u'\n').toStdString(); }

    QSet<QWidget *> checked;

private:
    void report(QWidget *widget, const QString &where, const char *fault)
    {
        const QString what = QStringLiteral("%1 in %2 (tool tip \"%3\") on %4: %5")
                                 .arg(QLatin1String(widget->metaObject()->className()),
                                     QLatin1String(widget->parentWidget()->metaObject()->className()),
                                     widget->toolTip(), where, QLatin1String(fault));
        m_faults.insert({ widget, QLatin1String(fault) }, what);
    }

    QMap<std::pair<QWidget *, QString>, QString> m_faults;
};

constexpr AppPage everyPage[] = { AppPage::dashboard, AppPage::nodes, AppPage::membership, AppPage::account,
    AppPage::settings };

class AccessibilityIntegration : public ServiceWorld { };

TEST_F(AccessibilityIntegration, EveryControlOnEveryPageAndSheetIsNamedAndReachableByTab)
{
    Audit audit;
    MainWindow window(*model);
    window.show();
    audit.check(&window, "signed out");

    RootView *root = window.rootView();
    for (AuthenticationMode mode : { AuthenticationMode::login, AuthenticationMode::registration }) {
        openAuthentication(*model, mode);
        ASSERT_TRUE(root->authenticationSheet() && root->authenticationSheet()->isVisible());
        audit.check(root->authenticationSheet(), QStringLiteral("sign-in sheet %1").arg(int(mode)));
    }
    model->setShowAuthentication(false);

    signIn({ { "active", true } });
    ASSERT_TRUE(model->membershipActive());
    const auto pages = [&](const QString &when) {
        for (AppPage page : everyPage) {
            model->setSelectedPage(page);
            audit.check(&window, QStringLiteral("page %1%2").arg(int(page)).arg(when));
        }
    };
    pages({});

    // An order waiting for its payment: the checkout sheet, then the pages that offer it again.
    await(model->refreshPlans(false));
    ASSERT_FALSE(model->plans().isEmpty());
    for (const QString &method : { QStringLiteral("wechat"), QStringLiteral("alipay") }) {
        await(model->createOrder(model->plans().first(), method));
        ASSERT_TRUE(root->checkoutSheet() && root->checkoutSheet()->isVisible()) << method.toStdString();
        audit.check(root->checkoutSheet(), "checkout " + method);
    }
    model->setShowCheckout(false);
    pages(" with an open order");

    // Paid while the sheet is open again: its last state.
    model->setShowCheckout(true);
    simulator.admin("order-status", { { "orderNo", model->currentOrder()->orderNo.toStdString() }, { "status", "paid" } });
    // Only once the account is read again after the payment (a model destroyed in the middle of
    // that would be resumed by the next test's event loop).
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage() == "开通成功"; }, 10000));
    audit.check(root->checkoutSheet(), "checkout paid");
    model->setShowCheckout(false);

    model->present(QStringLiteral("无法连接服务器"));
    ASSERT_TRUE(root->alert() && root->alert()->isVisible());
    audit.check(root->alert(), "alert");

    EXPECT_GT(audit.checked.size(), 40);
    EXPECT_EQ(audit.faults(), "");
}

class AccessibilityWorldIntegration : public ModelWorld { };

// The window's connection command follows the connection; only a running connection fills the
// node table, whose rows' buttons come after it by Tab.
TEST_F(AccessibilityWorldIntegration, TheConnectionCommandAndTheNodeRowsWhileConnected)
{
    AppModel &connected = makeModel();
    MainWindow window(connected);
    window.show();
    QAction *command = window.connectionAction();
    EXPECT_EQ(command->text(), "连接网络");
    await(connected.connect());
    ASSERT_TRUE(connected.isConnected()) << connected.statusMessage().toStdString();
    EXPECT_EQ(command->text(), "断开连接");
    EXPECT_TRUE(command->isEnabled());

    ASSERT_TRUE(waitUntil([&] { return !connected.nodes().isEmpty(); }));
    Audit audit;
    for (AppPage page : { AppPage::dashboard, AppPage::nodes }) {
        connected.setSelectedPage(page);
        audit.check(&window, QStringLiteral("connected page %1").arg(int(page)));
    }
    EXPECT_EQ(audit.faults(), "");

    // Tab from the search field stops at the table once, then at the rows' buttons.
    static_cast<NodesView *>(window.rootView()->page(AppPage::nodes))->searchField()->setFocus(Qt::TabFocusReason);
    QStringList reached;
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        reached << QApplication::focusWidget()->accessibleName();
    }
    const std::string order = reached.join(" → ").toStdString();
    const qsizetype table = reached.indexOf("官方节点");
    ASSERT_TRUE(table >= 0 && table < 3) << order;
    EXPECT_TRUE(reached.at(table + 1).startsWith("选择并同步 ")) << order;
    EXPECT_TRUE(reached.at(table + 2).startsWith("选择并同步 ")) << order;

    command->trigger();
    ASSERT_TRUE(waitUntil([&] { return !connected.isConnected() && !connected.isBusy(); }, 20000));
    EXPECT_EQ(command->text(), "连接网络");
    EXPECT_TRUE(command->isEnabled());
}

} // namespace
