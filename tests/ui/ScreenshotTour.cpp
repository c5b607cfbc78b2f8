// Renders the window, its sheets and the menu-bar menu in every state worth looking at, into
// PNG files: `ui-screenshots` under a display (scripts/screenshots runs it under Xvfb at 100 %
// and 140 %). The states are reached through the model's operations against the model world:
// the service simulator, the stand-in kernel and the root helper.
#include "AppModelTestPeer.h"
#include "ModelWorld.h"
#include "UiTestSupport.h"

#include "AuthenticationView.h"
#include "CheckoutView.h"
#include "MainWindow.h"
#include "NodesView.h"
#include "RootView.h"
#include "StatusMenuView.h"
#include "Theme.h"
#include "TrayGlyph.h"

#include <QCoroNetworkReply>
#include <QCoroTimer>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QPainter>

#include <csignal>

using namespace veyra;
using namespace veyra::test;
using namespace veyra::ui;

namespace {

int scale()
{
    return qEnvironmentVariableIntValue("VEYRA_SCREENSHOT_SCALE") ?: 100;
}

void write(const QImage &image, const QString &name)
{
    const QString folder
        = qEnvironmentVariable("VEYRA_SCREENSHOTS", QDir::tempPath() + QStringLiteral("/veyra-screens"));
    QDir().mkpath(folder);
    const QString path = QStringLiteral("%1/%2-%3.png").arg(folder).arg(scale()).arg(name);
    EXPECT_TRUE(image.save(path)) << path.toStdString();
    printf("%s\n", qPrintable(path));
}

// A widget as drawn once the event loop has turned for `settleMs`; a menu at its own size; a
// sheet drawn over the dimmed window it belongs to, as a person sees it.
void save(QWidget *widget, const QString &name, int settleMs = 0)
{
    waitUntil([] { return false; }, settleMs);
    if (auto *menu = qobject_cast<QMenu *>(widget))
        menu->adjustSize();
    QCoreApplication::processEvents();
    write(widget->grab().toImage(), name);
}

void saveSheet(QWidget *window, QWidget *sheet, const QString &name)
{
    waitUntil([] { return false; }, 300);
    QCoreApplication::processEvents();
    QPixmap picture = window->grab();
    QPainter painter(&picture);
    painter.fillRect(picture.rect(), QColor(0, 0, 0, 60));
    const QPixmap drawn = sheet->grab();
    painter.drawPixmap(QPoint((picture.width() - drawn.deviceIndependentSize().toSize().width()) / 2, 36), drawn);
    painter.end();
    write(picture.toImage(), name);
}

// The tray icon in each state it was seen in, at the tray's usual 16, 22 and 32 pixels and the
// screen's scale, on a light and on a dark panel; a 4× copy of the 22-pixel one beside each row
// for the eye.
void saveTrayStates(const QList<TrayLook> &looks, const QString &name)
{
    const qreal ratio = scale() / 100.0;
    const QColor panels[] = { QColor(0xf2, 0xf2, 0xf2), QColor(0x1e, 0x1e, 0x1e) };
    const int cell = 120;
    QImage sheet(cell * 4, cell * looks.size(), QImage::Format_ARGB32_Premultiplied);
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    for (qsizetype row = 0; row < looks.size(); ++row) {
        const QIcon icon = trayGlyph(looks[row]);
        for (int p = 0; p < 2; ++p) {
            const QRect area(p * cell * 2, int(row) * cell, cell * 2, cell);
            painter.fillRect(area, panels[p]);
            int x = area.x() + 8;
            for (int size : { 16, 22, 32 }) {
                painter.drawPixmap(QPoint(x, area.y() + 8), icon.pixmap(QSize(size, size), ratio));
                x += int(size * ratio) + 8;
            }
            const int large = int(22 * ratio * 2);
            painter.drawPixmap(QRect(area.x() + 8, area.y() + 48, large, large), icon.pixmap(QSize(22, 22), ratio));
            painter.setPen(p == 0 ? Qt::black : Qt::white);
            painter.drawText(area.adjusted(100, 48, 0, 0), looks[row].state);
        }
    }
    painter.end();
    write(sheet, name);
}

// Some traffic through the local port, so the speed card has something to draw.
QCoro::Task<> downloadThroughProxy(QUrl url, quint16 port, int times)
{
    QNetworkAccessManager network;
    network.setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), port));
    for (int i = 0; i < times; ++i) {
        std::unique_ptr<QNetworkReply> reply(network.get(QNetworkRequest(url)));
        co_await qCoro(reply.get()).waitForFinished();
        reply->readAll();
        co_await QCoro::sleepFor(std::chrono::milliseconds(250));
    }
}

class ScreenshotTour : public ModelWorld { };

TEST_F(ScreenshotTour, EveryStateOfTheWindow)
{
    theme::setScalePercent(scale());
    AppCollaborators made = collaborators(QStringLiteral("/generate_204"));
    made.openURL = [](const QUrl &) { return true; };
    made.pollDelay = [](int) { return std::chrono::milliseconds(50); };
    auto visitor = std::make_unique<AppModel>(std::move(made));
    {
        MainWindow window(*visitor);
        StatusMenuView menu(*visitor);
        RootView *root = window.rootView();
        window.show();
        save(&window, QStringLiteral("01-landing"), 300);
        save(menu.menu(), QStringLiteral("02-menu-signed-out"));

        visitor->setAuthenticationMode(AuthenticationMode::login);
        visitor->setShowAuthentication(true);
        await(visitor->login(QStringLiteral("13800138000"), QStringLiteral("wrong-password"), false));
        saveSheet(&window, root->authenticationSheet(), QStringLiteral("03-sign-in-error"));
        visitor->setAuthenticationMode(AuthenticationMode::registration);
        visitor->setAuthenticationErrorMessage(QStringLiteral("两次输入的密码不一致"));
        saveSheet(&window, root->authenticationSheet(), QStringLiteral("04-register-error"));
        visitor->setShowAuthentication(false);

        // A new account without a membership: the membership page with the plans.
        simulator->admin(QStringLiteral("accounts"), { { "account", "13900000001" }, { "password", "password123" } });
        await(visitor->login(QStringLiteral("13900000001"), QStringLiteral("password123"), false));
        await(visitor->refreshPlans(false));
        save(&window, QStringLiteral("05-membership-plans"), 300);
        save(menu.menu(), QStringLiteral("06-menu-no-membership"));

        ASSERT_FALSE(visitor->plans().isEmpty());
        const Plan plan = visitor->plans().first();
        await(visitor->createOrder(plan, QStringLiteral("wechat")));
        ASSERT_TRUE(waitUntil([&] { return !visitor->checkoutImage().isNull(); }));
        saveSheet(&window, root->checkoutSheet(), QStringLiteral("07-checkout-wechat"));
        await(visitor->createOrder(plan, QStringLiteral("alipay")));
        saveSheet(&window, root->checkoutSheet(), QStringLiteral("08-checkout-alipay"));
        ASSERT_TRUE(visitor->currentOrder());
        simulator->admin(QStringLiteral("order-status"),
            { { "orderNo", visitor->currentOrder()->orderNo.toStdString() }, { "status", "paid" } });
        ASSERT_TRUE(waitUntil([&] { return visitor->membershipActive(); }, 10000));
        saveSheet(&window, root->checkoutSheet(), QStringLiteral("09-checkout-paid"));
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
    save(&window, QStringLiteral("10-dashboard-disconnected"), 300);
    save(menu.menu(), QStringLiteral("11-menu-member-disconnected"));
    QList<TrayLook> trayStates { trayLook(member) };
    QObject::connect(&member, &AppModel::stateChanged, &member, [&] {
        if (member.connectionState() == ConnectionState::connecting && trayStates.size() == 1)
            trayStates << trayLook(member);
    });
    await(member.connect());
    ASSERT_TRUE(member.isConnected()) << member.statusMessage().toStdString();
    trayStates << trayLook(member);
    await(member.testAllNodes());
    // A few seconds of downloads: the speeds and their chart.
    await(downloadThroughProxy(QUrl(check.url("/payload")), quint16(member.settings().mixedPort), 14));
    save(&window, QStringLiteral("12-dashboard-connected"), 1200);
    save(menu.menu(), QStringLiteral("13-menu-member-connected"));

    member.setSelectedPage(AppPage::nodes);
    save(&window, QStringLiteral("14-nodes"), 300);
    static_cast<NodesView *>(window.rootView()->page(AppPage::nodes))->searchField()->setText(QStringLiteral(" 香港 "));
    save(&window, QStringLiteral("15-nodes-filtered"), 300);

    // Start-up loads the plans in the application; this model was made by hand.
    await(member.refreshPlans(false));
    const std::pair<AppPage, const char *> pages[] = { { AppPage::membership, "16-membership-member" },
        { AppPage::account, "17-account" }, { AppPage::settings, "18-settings" } };
    for (const auto &[page, name] : pages) {
        member.setSelectedPage(page);
        save(&window, QString::fromLatin1(name), 300);
    }

    // The kernel dies with the window closed: the tray turns to the failure.
    window.hide();
    ::kill(static_cast<pid_t>(Peer::core(member).processId()), SIGKILL);
    ASSERT_TRUE(waitUntil([&] { return member.connectionState() == ConnectionState::failed; }, 10000));
    trayStates << trayLook(member);
    save(menu.menu(), QStringLiteral("19-menu-after-failure"));
    saveTrayStates(trayStates, QStringLiteral("20-tray-states"));
}

} // namespace
