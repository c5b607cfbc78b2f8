// Every control a person can use is named for assistive technology and reachable with Tab, on
// every page and sheet; and the window's connection command follows the connection.
#include "ModelWorld.h"
#include "ServiceWorld.h"
#include "UiTestSupport.h"

#include "AuthenticationView.h"
#include "CheckoutView.h"
#include "MainWindow.h"
#include "Navigation.h"
#include "RootView.h"

#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QAccessible>
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

QString pageName(AppPage page)
{
    switch (page) {
    case AppPage::dashboard:
        return QStringLiteral("首页");
    case AppPage::nodes:
        return QStringLiteral("节点");
    case AppPage::membership:
        return QStringLiteral("会员");
    case AppPage::account:
        return QStringLiteral("个人中心");
    case AppPage::settings:
        return QStringLiteral("设置");
    }
    return {};
}

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

QString describe(QWidget *widget)
{
    QString text;
    if (auto *button = qobject_cast<QAbstractButton *>(widget))
        text = button->text();
    else if (auto *field = qobject_cast<QLineEdit *>(widget))
        text = field->text().isEmpty() ? field->placeholderText() : field->text();
    else if (auto *combo = qobject_cast<QComboBox *>(widget))
        text = combo->currentText();
    if (text.isEmpty() && !widget->toolTip().isEmpty())
        text = QStringLiteral("tool tip ") + widget->toolTip();
    QString where = QString::fromLatin1(widget->metaObject()->className());
    if (widget->parentWidget())
        where += QStringLiteral(" in ") + QString::fromLatin1(widget->parentWidget()->metaObject()->className());
    return QStringLiteral("%1 \"%2\"").arg(where, text);
}

// The faults of the shown controls of a window, each reported once, where it was first seen.
class Audit {
public:
    void check(QWidget *window, const QString &where)
    {
        QCoreApplication::processEvents();
        for (QWidget *widget : window->findChildren<QWidget *>()) {
            if (widget->window() != window || !widget->isVisibleTo(window) || !isControl(widget)
                || isPartOfAnotherControl(widget, window))
                continue;
            m_checked.insert(widget);
            // Disabled controls too: they are announced (dimmed) and become reachable when enabled.
            if (spokenName(widget).isEmpty())
                report(widget, QStringLiteral("%1 on %2: no accessible name or text").arg(describe(widget), where));
            if ((widget->focusPolicy() & Qt::TabFocus) != Qt::TabFocus)
                report(widget, QStringLiteral("%1 on %2: not reachable with Tab").arg(describe(widget), where));
        }
    }
    QString faults() const { return m_faults.join(QLatin1Char('\n')); }
    qsizetype checked() const { return m_checked.size(); }

private:
    void report(QWidget *widget, const QString &fault)
    {
        const QString kind = fault.section(QStringLiteral(": "), -1);
        if (!m_reported.contains({ widget, kind })) {
            m_reported.insert({ widget, kind });
            m_faults << fault;
        }
    }

    QSet<QWidget *> m_checked;
    QSet<std::pair<QWidget *, QString>> m_reported;
    QStringList m_faults;
};

class AccessibilityIntegration : public ServiceWorld { };

TEST_F(AccessibilityIntegration, EveryControlOnEveryPageAndSheetIsNamedAndReachableByTab)
{
    Audit audit;
    MainWindow window(*model);
    window.show();
    audit.check(&window, QStringLiteral("登录前"));

    RootView *root = window.rootView();
    for (AuthenticationMode mode : { AuthenticationMode::login, AuthenticationMode::registration }) {
        openAuthentication(*model, mode);
        ASSERT_TRUE(root->authenticationSheet() && root->authenticationSheet()->isVisible());
        audit.check(root->authenticationSheet(),
            mode == AuthenticationMode::login ? QStringLiteral("登录表单") : QStringLiteral("注册表单"));
    }
    model->setShowAuthentication(false);

    signIn({ { "active", true } });
    ASSERT_TRUE(model->membershipActive());
    const auto everyPage = [&](const QString &when) {
        for (AppPage page : { AppPage::dashboard, AppPage::nodes, AppPage::membership, AppPage::account, AppPage::settings }) {
            model->setSelectedPage(page);
            audit.check(&window, pageName(page) + when);
        }
    };
    everyPage({});

    // An order waiting for its payment: the checkout sheet, then the pages that offer it again.
    await(model->refreshPlans(false));
    ASSERT_FALSE(model->plans().isEmpty());
    const Plan plan = model->plans().first();
    for (const QString &method : { QStringLiteral("wechat"), QStringLiteral("alipay") }) {
        await(model->createOrder(plan, method));
        ASSERT_TRUE(root->checkoutSheet() && root->checkoutSheet()->isVisible()) << method.toStdString();
        audit.check(root->checkoutSheet(), QStringLiteral("收银台 ") + method);
    }
    model->setShowCheckout(false);
    everyPage(QStringLiteral("（待支付订单）"));

    // Paid while the sheet is open again: its last state.
    model->setShowCheckout(true);
    simulator.admin(QStringLiteral("order-status"),
        { { "orderNo", model->currentOrder()->orderNo.toStdString() }, { "status", "paid" } });
    // Only once the account is read again after the payment (a model destroyed in the middle of
    // that would be resumed by the next test's event loop).
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage() == QStringLiteral("开通成功"); }, 10000));
    audit.check(root->checkoutSheet(), QStringLiteral("收银台（已支付）"));
    model->setShowCheckout(false);

    model->present(QStringLiteral("无法连接服务器"));
    ASSERT_TRUE(root->alert() && root->alert()->isVisible());
    audit.check(root->alert(), QStringLiteral("提示"));

    EXPECT_GT(audit.checked(), 40);
    EXPECT_TRUE(audit.faults().isEmpty()) << audit.faults().toStdString();
}

class AccessibilityWorldIntegration : public ModelWorld { };

TEST_F(AccessibilityWorldIntegration, TheConnectionCommandAndTheNodeRowsWhileConnected)
{
    AppModel &connected = makeModel();
    MainWindow window(connected);
    window.show();
    QAction *command = window.connectionAction();
    EXPECT_EQ(command->text(), QStringLiteral("连接网络"));
    EXPECT_TRUE(command->isEnabled());

    await(connected.connect());
    ASSERT_TRUE(connected.isConnected()) << connected.statusMessage().toStdString();
    EXPECT_EQ(command->text(), QStringLiteral("断开连接"));
    EXPECT_TRUE(command->isEnabled());

    // Only a running connection fills the node table with its rows' buttons.
    ASSERT_TRUE(waitUntil([&] { return !connected.nodes().isEmpty(); }));
    Audit audit;
    for (AppPage page : { AppPage::dashboard, AppPage::nodes }) {
        connected.setSelectedPage(page);
        audit.check(&window, pageName(page) + QStringLiteral("（已连接）"));
    }
    EXPECT_TRUE(audit.faults().isEmpty()) << audit.faults().toStdString();

    // By keyboard: Tab from the search field stops at the table once, then at the rows' buttons.
    QLineEdit *search = nullptr;
    for (auto *field : window.findChildren<QLineEdit *>())
        if (field->placeholderText() == QStringLiteral("搜索节点或地区"))
            search = field;
    ASSERT_TRUE(search);
    search->setFocus(Qt::TabFocusReason);
    QStringList reached;
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        reached << QApplication::focusWidget()->accessibleName();
    }
    const std::string order = reached.join(QStringLiteral(" → ")).toStdString();
    const qsizetype table = reached.indexOf(QStringLiteral("官方节点"));
    ASSERT_TRUE(table >= 0 && table < 3) << order;
    EXPECT_TRUE(reached.at(table + 1).startsWith(QStringLiteral("选择并同步 "))) << order;
    EXPECT_TRUE(reached.at(table + 2).startsWith(QStringLiteral("选择并同步 "))) << order;

    command->trigger();
    ASSERT_TRUE(waitUntil([&] { return !connected.isConnected() && !connected.isBusy(); }, 20000));
    EXPECT_EQ(command->text(), QStringLiteral("连接网络"));
    EXPECT_TRUE(command->isEnabled());
}

} // namespace
