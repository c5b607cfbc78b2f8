#include "Driver.h"

#include "AppModel.h"
#include "MainWindow.h"
#include "MihomoManager.h"
#include "UiTestSupport.h"
#include "VeyraNetworkAssistantApp.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTextStream>

#include <memory>

namespace veyra::e2e {

using test::findButton;
using test::visibleTexts;

// The windows a person sees now: the main window and any sheet over it.
QList<QWidget *> shownWindows()
{
    QList<QWidget *> windows;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (widget->isVisible() && !widget->isMinimized())
            windows << widget;
    return windows;
}

QAbstractButton *shownButton(const QString &text)
{
    for (QWidget *window : shownWindows()) {
        if (auto *button = findButton(window, text); button && button->isVisible())
            return button;
        for (auto *dialog : window->findChildren<QDialog *>())
            if (dialog->isVisible())
                if (auto *button = findButton(dialog, text))
                    return button;
    }
    return nullptr;
}

QLineEdit *shownField(const QString &placeholder)
{
    for (QWidget *window : shownWindows())
        for (auto *field : window->findChildren<QLineEdit *>())
            if (field->isVisible() && field->placeholderText() == placeholder)
                return field;
    return nullptr;
}

QDialog *shownSheet(QWidget *window)
{
    if (!window)
        return nullptr;
    for (auto *dialog : window->findChildren<QDialog *>())
        if (dialog->isVisible() && dialog->isModal())
            return dialog;
    return nullptr;
}

Driver::Driver(ui::VeyraNetworkAssistantApp &app, MihomoManager &core, DriverOptions options)
    : m_app(app)
    , m_core(core)
    , m_options(std::move(options))
    , m_settings(m_options.networkState, m_options.kioslaverc)
{
    if (!m_options.screenshots.isEmpty())
        QDir().mkpath(m_options.screenshots);
}

Driver::~Driver() = default;

AppModel &Driver::model() const { return m_app.model(); }

void Driver::quit()
{
    say(QStringLiteral("status: %1").arg(m_app.model().statusMessage()));
    say(m_failures == 0 ? QStringLiteral("passed; quitting") : QStringLiteral("FAILED (%1); quitting").arg(m_failures));
    QAction *quit = nullptr;
    if (auto *window = m_app.mainWindow())
        for (QMenu *menu : window->menuBar()->findChildren<QMenu *>())
            if (QAction *action = test::menuAction(menu, QStringLiteral("退出")))
                quit = action;
    if (quit)
        quit->trigger();
    else
        QApplication::exit(1);
}

bool Driver::openInBrowser(const QString &url)
{
    // The browser: fetches the page (the world trusts its certificates system-wide) and tells
    // only whether it loaded, never the address (it carries the order's code).
    ++m_pagesOpened;
    auto *page = new QProcess(qApp);
    QObject::connect(page, &QProcess::finished, page, [this, page](int status) {
        say(QStringLiteral("browser: checkout page %1").arg(status == 0 ? QStringLiteral("loaded") : QStringLiteral("failed")));
        page->deleteLater();
    });
    page->start(QStringLiteral("curl"), { QStringLiteral("-fsS"), QStringLiteral("--max-time"), QStringLiteral("10"),
                                          QStringLiteral("-o"), QStringLiteral("/dev/null"), url });
    return true;
}

bool Driver::waitForStartUp()
{
    // Start-up runs once the window is first shown; until then the status is the initial one.
    return waitFor(QStringLiteral("the end of start-up"), [&] {
        return window() && window()->isVisible() && !model().isBusy()
            && model().statusMessage() != QStringLiteral("正在初始化…");
    }, 30'000);
}

bool Driver::signIn()
{
    // The sheet may already be open (a first start opens it for registration).
    if (!shownSheet(window()) && !click(QStringLiteral("登录账号")))
        return false;
    const auto sheetButton = [&](bool segment) -> QPushButton * {
        QDialog *sheet = shownSheet(window());
        for (auto *button : sheet ? sheet->findChildren<QPushButton *>() : QList<QPushButton *> {})
            if (button->isVisible() && button->text() == QStringLiteral("登录") && button->isCheckable() == segment)
                return button;
        return nullptr;
    };
    if (QPushButton *mode = sheetButton(true); mode && !mode->isChecked())
        QTest::mouseClick(mode, Qt::LeftButton);
    QLineEdit *account = nullptr;
    QLineEdit *password = nullptr;
    waitFor(QStringLiteral("the sign-in sheet"), [&] {
        account = shownField(QStringLiteral("手机号 / 原账号"));
        password = shownField(QStringLiteral("密码（至少 8 位）"));
        return account && password && sheetButton(false);
    }, 10'000);
    if (!account || !password || !sheetButton(false))
        return false;
    QTest::keyClicks(account, m_options.account);
    QTest::keyClicks(password, m_options.password);
    QTest::mouseClick(sheetButton(false), Qt::LeftButton);
    return waitFor(QStringLiteral("signed in"),
        [&] { return model().user() && !model().showAuthentication() && !model().isBusy(); }, 15'000);
}

bool Driver::connectLine(int limitMs, const std::function<void()> &beforeClick)
{
    if (!openPage(QStringLiteral("首页")))
        return false;
    waitFor(QStringLiteral("the official line"), [&] { return model().officialLineReady() && !model().isBusy(); }, 20'000);
    if (beforeClick)
        beforeClick();
    QElapsedTimer clock;
    clock.start();
    if (!click(QStringLiteral("智能连接")))
        return false;
    const bool connected = waitFor(QStringLiteral("\"已安全连接 · …\""), [&] {
        return model().isConnected() && model().statusMessage().startsWith(QStringLiteral("已安全连接 · "));
    }, limitMs);
    if (connected)
        say(QStringLiteral("connected in %1 ms: %2").arg(clock.elapsed()).arg(model().statusMessage()));
    return connected;
}

bool Driver::disconnectLine()
{
    return click(QStringLiteral("断开")) && waitFor(QStringLiteral("\"已断开，系统代理已恢复\""), [&] {
        return !model().isConnected() && model().statusMessage() == QStringLiteral("已断开，系统代理已恢复");
    }, 15'000);
}

QWidget *Driver::window() const { return m_app.mainWindow(); }

bool Driver::openPage(const QString &title)
{
    auto *sidebar = window() ? window()->findChild<QListWidget *>(QStringLiteral("Sidebar")) : nullptr;
    const QList<QListWidgetItem *> items = sidebar ? sidebar->findItems(title, Qt::MatchExactly) : QList<QListWidgetItem *> {};
    if (!check(!items.isEmpty() && sidebar->isVisible(), QStringLiteral("the sidebar lists \"%1\"").arg(title)))
        return false;
    QTest::mouseClick(sidebar->viewport(), Qt::LeftButton, {}, sidebar->visualItemRect(items.first()).center());
    return waitFor(QStringLiteral("the page \"%1\"").arg(title), [&] { return sidebar->currentItem() == items.first(); }, 2'000);
}

bool Driver::click(const QString &buttonText)
{
    QAbstractButton *button = nullptr;
    waitFor(QStringLiteral("the button \"%1\"").arg(buttonText), [&] {
        button = shownButton(buttonText);
        return button && button->isEnabled();
    }, 10'000);
    if (!button || !button->isEnabled())
        return false;
    QTest::mouseClick(button, Qt::LeftButton);
    return true;
}

bool Driver::waitFor(const QString &what, const std::function<bool()> &condition, int limitMs)
{
    if (test::waitUntil(condition, limitMs))
        return true;
    return check(false,
        QStringLiteral("%1 within %2 s; the window shows: %3")
            .arg(what)
            .arg(limitMs / 1000)
            .arg((window() ? visibleTexts(window()) : QStringList {}).join(QStringLiteral(" | "))));
}

bool Driver::check(bool condition, const QString &what)
{
    say(QStringLiteral("%1 %2").arg(condition ? QStringLiteral("ok  ") : QStringLiteral("FAIL"), what));
    if (!condition)
        ++m_failures;
    return condition;
}

void Driver::shot(const QString &name)
{
    QWidget *main = window();
    if (!main || m_options.screenshots.isEmpty())
        return;
    QCoreApplication::processEvents();
    QPixmap picture = main->grab();
    // A sheet is drawn over its dimmed window, below the title bar, as the desktop shows it.
    if (QDialog *sheet = shownSheet(main)) {
        QPainter painter(&picture);
        painter.fillRect(picture.rect(), QColor(0, 0, 0, 60));
        const QPixmap drawn = sheet->grab();
        const QSize size = drawn.deviceIndependentSize().toSize();
        painter.drawPixmap(QPoint((picture.deviceIndependentSize().toSize().width() - size.width()) / 2, 36), drawn);
    }
    const QString path = QStringLiteral("%1/%2-%3.png").arg(m_options.screenshots).arg(++m_step, 2, 10, QLatin1Char('0')).arg(name);
    say(picture.save(path) ? QStringLiteral("screenshot %1").arg(path) : QStringLiteral("could not save %1").arg(path));
}

void Driver::say(const QString &line)
{
    QTextStream out(stdout);
    out << "tour: " << line << Qt::endl;
}

QByteArray Driver::readSettings() const { return m_settings.take(); }

bool Driver::askWorld(const QString &action) const
{
    const QStringList pipes = m_options.world.split(QLatin1Char(','));
    QFile requests(pipes.first());
    if (pipes.size() != 2 || !requests.open(QIODevice::WriteOnly))
        return false;
    requests.write(action.toUtf8() + '\n');
    requests.close();
    QFile replies(pipes.last());
    return replies.open(QIODevice::ReadOnly) && replies.readLine().trimmed() == "0";
}

QString Driver::kernelState(const QString &path)
{
    auto query = m_core.controller(path, QByteArrayLiteral("GET"), std::nullopt, m_app.model().settings());
    const std::optional<QByteArray> body = finish(std::move(query), 10'000);
    return body ? QString::fromUtf8(*body) : QString();
}

} // namespace veyra::e2e
