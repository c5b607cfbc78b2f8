// Renders the window, its sheets and the menu-bar menu in every state worth looking at, into
// PNG files: `ui-screenshots` under a display (scripts/screenshots runs it under Xvfb at 100 %
// and 140 %). The states are reached through the model's operations against the model world:
// the service simulator, the stand-in kernel and the root helper.
#include "ModelWorld.h"
#include "UiTestSupport.h"

#include "AuthenticationView.h"
#include "CheckoutView.h"
#include "MainWindow.h"
#include "RootView.h"
#include "StatusMenuView.h"
#include "Theme.h"

#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>

using namespace veyra;
using namespace veyra::test;
using namespace veyra::ui;

namespace {

QString outputFolder()
{
    const QString folder = qEnvironmentVariable("VEYRA_SCREENSHOTS", QDir::tempPath() + QStringLiteral("/veyra-screens"));
    QDir().mkpath(folder);
    return folder;
}

int scale() { return qEnvironmentVariableIntValue("VEYRA_SCREENSHOT_SCALE") ?: 100; }

void save(QWidget *widget, const QString &name)
{
    QCoreApplication::processEvents();
    const QString path = QStringLiteral("%1/%2-%3.png").arg(outputFolder()).arg(scale()).arg(name);
    EXPECT_TRUE(widget->grab().save(path)) << path.toStdString();
    printf("%s\n", qPrintable(path));
}

// A sheet drawn over the dimmed window it belongs to, as a person sees it.
void saveSheet(QWidget *window, QWidget *sheet, const QString &name)
{
    QCoreApplication::processEvents();
    QPixmap picture = window->grab();
    QPainter painter(&picture);
    painter.fillRect(picture.rect(), QColor(0, 0, 0, 60));
    const QPixmap drawn = sheet->grab();
    const QSize size = drawn.deviceIndependentSize().toSize();
    painter.drawPixmap(QPoint((picture.width() - size.width()) / 2, 36), drawn);
    painter.end();
    const QString path = QStringLiteral("%1/%2-%3.png").arg(outputFolder()).arg(scale()).arg(name);
    EXPECT_TRUE(picture.save(path)) << path.toStdString();
    printf("%s\n", qPrintable(path));
}

void saveMenu(QMenu *menu, const QString &name)
{
    menu->adjustSize();
    save(menu, name);
}

class ScreenshotTour : public ModelWorld {
protected:
    void SetUp() override
    {
        ModelWorld::SetUp();
        theme::setScalePercent(scale());
    }
    std::unique_ptr<AppModel> signedOutModel()
    {
        AppCollaborators made = collaborators(QStringLiteral("/generate_204"));
        made.openURL = [](const QUrl &) { return true; };
        made.pollDelay = [](int) { return std::chrono::milliseconds(50); };
        return std::make_unique<AppModel>(std::move(made));
    }
    void settle(int ms = 300)
    {
        waitUntil([] { return false; }, ms);
    }
};

TEST_F(ScreenshotTour, EveryStateOfTheWindow)
{
    std::unique_ptr<AppModel> visitor = signedOutModel();
    {
        MainWindow window(*visitor);
        StatusMenuView menu(*visitor);
        window.show();
        settle();
        save(&window, QStringLiteral("01-landing"));
        saveMenu(menu.menu(), QStringLiteral("02-menu-signed-out"));

        visitor->setAuthenticationMode(AuthenticationMode::login);
        visitor->setShowAuthentication(true);
        await(visitor->login(QStringLiteral("13800138000"), QStringLiteral("wrong-password"), false));
        settle();
        saveSheet(&window, window.rootView()->authenticationSheet(), QStringLiteral("03-sign-in-error"));
        visitor->setAuthenticationMode(AuthenticationMode::registration);
        visitor->setAuthenticationErrorMessage(QStringLiteral("两次输入的密码不一致"));
        settle();
        saveSheet(&window, window.rootView()->authenticationSheet(), QStringLiteral("04-register-error"));
        visitor->setShowAuthentication(false);

        // A new account without a membership: the membership page with the plans.
        simulator->admin(QStringLiteral("accounts"), { { "account", "13900000001" }, { "password", "password123" } });
        await(visitor->login(QStringLiteral("13900000001"), QStringLiteral("password123"), false));
        await(visitor->refreshPlans(false));
        settle();
        save(&window, QStringLiteral("05-membership-plans"));
        saveMenu(menu.menu(), QStringLiteral("06-menu-no-membership"));

        ASSERT_FALSE(visitor->plans().isEmpty());
        const Plan plan = visitor->plans().first();
        const QString wechat = QStringLiteral("wechat");
        await(visitor->createOrder(plan, wechat));
        ASSERT_TRUE(waitUntil([&] { return !visitor->checkoutImage().isNull(); }));
        settle();
        saveSheet(&window, window.rootView()->checkoutSheet(), QStringLiteral("07-checkout-wechat"));
        const QString alipay = QStringLiteral("alipay");
        await(visitor->createOrder(plan, alipay));
        settle();
        saveSheet(&window, window.rootView()->checkoutSheet(), QStringLiteral("08-checkout-alipay"));
        ASSERT_TRUE(visitor->currentOrder());
        simulator->admin(QStringLiteral("order-status"),
            { { "orderNo", visitor->currentOrder()->orderNo.toStdString() }, { "status", "paid" } });
        ASSERT_TRUE(waitUntil([&] { return visitor->membershipActive(); }, 10000));
        settle();
        saveSheet(&window, window.rootView()->checkoutSheet(), QStringLiteral("09-checkout-paid"));
        visitor->setShowCheckout(false);
        await(visitor->shutdown());
    }
    visitor.reset();

    // The member, disconnected and connected.
    AppModel &member = makeModel();
    // The settings page shows the scale the pictures are taken at.
    member.editUiScale(scale());
    MainWindow window(member);
    StatusMenuView menu(member);
    window.show();
    member.setSelectedPage(AppPage::dashboard);
    settle();
    save(&window, QStringLiteral("10-dashboard-disconnected"));
    saveMenu(menu.menu(), QStringLiteral("11-menu-member-disconnected"));
    await(member.connect());
    ASSERT_TRUE(member.isConnected()) << member.statusMessage().toStdString();
    await(member.testAllNodes());
    settle();
    save(&window, QStringLiteral("12-dashboard-connected"));
    saveMenu(menu.menu(), QStringLiteral("13-menu-member-connected"));

    member.setSelectedPage(AppPage::nodes);
    settle();
    save(&window, QStringLiteral("14-nodes"));
    QWidget *nodes = window.rootView()->page(AppPage::nodes);
    for (QLineEdit *field : nodes->findChildren<QLineEdit *>())
        if (field->placeholderText() == QStringLiteral("搜索节点或地区"))
            field->setText(QStringLiteral(" 香港 "));
    settle();
    save(&window, QStringLiteral("15-nodes-filtered"));

    // Start-up loads the plans in the application; this model was made by hand.
    await(member.refreshPlans(false));
    member.setSelectedPage(AppPage::membership);
    settle();
    save(&window, QStringLiteral("16-membership-member"));
    member.setSelectedPage(AppPage::account);
    settle();
    save(&window, QStringLiteral("17-account"));
    member.setSelectedPage(AppPage::settings);
    settle();
    save(&window, QStringLiteral("18-settings"));
    await(member.disconnect());
}

} // namespace
