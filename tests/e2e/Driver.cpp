#include "Driver.h"

#include "MihomoManager.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
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

namespace veyra::e2e {

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
        if (auto *button = test::findButton(window, text); button && button->isVisible())
            return button;
        for (auto *dialog : window->findChildren<QDialog *>())
            if (dialog->isVisible())
                if (auto *button = test::findButton(dialog, text))
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
    for (auto *dialog : window ? window->findChildren<QDialog *>() : QList<QDialog *> {})
        if (dialog->isVisible() && dialog->isModal())
            return dialog;
    return nullptr;
}

Driver::Driver(ui::VeyraNetworkAssistantApp &app, MihomoManager &core, DriverOptions options)
    : m_app(app)
    , m_core(core)
    , m_options(std::move(options))
    , m_settings { m_options.networkState, m_options.kioslaverc }
{
    if (!m_options.screenshots.isEmpty())
        QDir().mkpath(m_options.screenshots);
}

Driver::~Driver() = default;

void Driver::quit()
{
    say(u"status: %1"_s.arg(m_app.model().statusMessage()));
    say(m_failures == 0 ? u"passed; quitting"_s : u"FAILED (%1); quitting"_s.arg(m_failures));
    QAction *quit = nullptr;
    if (auto *window = m_app.mainWindow())
        for (QMenu *menu : window->menuBar()->findChildren<QMenu *>())
            if (QAction *action = test::menuAction(menu, u"退出"_s))
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
        say(u"browser: checkout page %1"_s.arg(status == 0 ? u"loaded"_s : u"failed"_s));
        page->deleteLater();
    });
    page->start(u"curl"_s, { u"-fsS"_s, u"--max-time"_s, u"10"_s, u"-o"_s, u"/dev/null"_s, url });
    return true;
}

bool Driver::waitForStartUp()
{
    // Start-up runs once the window is first shown; until then the status is the initial one.
    return waitFor(u"the end of start-up"_s, 30'000, [&] {
        return window() && window()->isVisible() && !model().isBusy() && model().statusMessage() != u"正在初始化…"_s;
    });
}

bool Driver::signIn()
{
    // The sheet may already be open (a first start opens it for registration).
    if (!shownSheet(window()) && !click(u"登录账号"_s))
        return false;
    const auto sheetButton = [&](bool segment) -> QPushButton * {
        QDialog *sheet = shownSheet(window());
        for (auto *button : sheet ? sheet->findChildren<QPushButton *>() : QList<QPushButton *> {})
            if (button->isVisible() && button->text() == u"登录"_s && button->isCheckable() == segment)
                return button;
        return nullptr;
    };
    if (QPushButton *mode = sheetButton(true); mode && !mode->isChecked())
        QTest::mouseClick(mode, Qt::LeftButton);
    QLineEdit *account = nullptr, *password = nullptr;
    waitFor(u"the sign-in sheet"_s, 10'000, [&] {
        account = shownField(u"手机号 / 原账号"_s);
        password = shownField(u"密码（至少 8 位）"_s);
        return account && password && sheetButton(false);
    });
    if (!account || !password || !sheetButton(false))
        return false;
    QTest::keyClicks(account, m_options.account);
    QTest::keyClicks(password, m_options.password);
    QTest::mouseClick(sheetButton(false), Qt::LeftButton);
    return waitFor(u"signed in"_s, 15'000, [&] { return signedIn(); });
}

bool Driver::connectLine(int limitMs, const std::function<void()> &beforeClick)
{
    if (!openPage(u"首页"_s))
        return false;
    waitFor(u"the official line"_s, 20'000, [&] { return model().officialLineReady() && !model().isBusy(); });
    if (beforeClick)
        beforeClick();
    QElapsedTimer clock;
    clock.start();
    if (!click(u"智能连接"_s))
        return false;
    const bool connected = waitFor(u"\"已安全连接 · …\""_s, limitMs,
        [&] { return model().isConnected() && model().statusMessage().startsWith(u"已安全连接 · "_s); });
    if (connected)
        say(u"connected in %1 ms: %2"_s.arg(clock.elapsed()).arg(model().statusMessage()));
    return connected;
}

bool Driver::disconnectLine()
{
    return click(u"断开"_s) && waitFor(u"\"已断开，系统代理已恢复\""_s, 15'000, [&] {
        return !model().isConnected() && model().statusMessage() == u"已断开，系统代理已恢复"_s;
    });
}

bool Driver::openPage(const QString &title)
{
    auto *sidebar = window() ? window()->findChild<QListWidget *>(u"Sidebar"_s) : nullptr;
    const QList<QListWidgetItem *> items
        = sidebar ? sidebar->findItems(title, Qt::MatchExactly) : QList<QListWidgetItem *> {};
    if (!check(!items.isEmpty() && sidebar->isVisible(), u"the sidebar lists \"%1\""_s.arg(title)))
        return false;
    QTest::mouseClick(sidebar->viewport(), Qt::LeftButton, {}, sidebar->visualItemRect(items.first()).center());
    return waitFor(u"the page \"%1\""_s.arg(title), 2'000, [&] { return sidebar->currentItem() == items.first(); });
}

bool Driver::click(const QString &buttonText)
{
    QAbstractButton *button = nullptr;
    waitFor(u"the button \"%1\""_s.arg(buttonText), 10'000, [&] {
        button = shownButton(buttonText);
        return button && button->isEnabled();
    });
    if (!button || !button->isEnabled())
        return false;
    QTest::mouseClick(button, Qt::LeftButton);
    return true;
}

bool Driver::waitFor(const QString &what, int limitMs, const std::function<bool()> &condition)
{
    return test::waitUntil(condition, limitMs)
        || check(false,
            u"%1 within %2 s; the window shows: %3"_s.arg(what)
                .arg(limitMs / 1000)
                .arg((window() ? test::visibleTexts(window()) : QStringList {}).join(u" | "_s)));
}

bool Driver::waitForStatus(const QString &status, int limitMs)
{
    return waitFor(
        u"\"%1\""_s.arg(status), limitMs, [&] { return !model().isBusy() && model().statusMessage() == status; });
}

bool Driver::check(bool condition, const QString &what)
{
    say(u"%1 %2"_s.arg(condition ? u"ok  "_s : u"FAIL"_s, what));
    m_failures += condition ? 0 : 1;
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
    const QString path = u"%1/%2-%3.png"_s.arg(m_options.screenshots).arg(++m_step, 2, 10, QLatin1Char('0')).arg(name);
    say(picture.save(path) ? u"screenshot %1"_s.arg(path) : u"could not save %1"_s.arg(path));
}

void Driver::say(const QString &line)
{
    QTextStream out(stdout);
    out << "tour: " << line << Qt::endl;
}

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

QString Driver::kernelState(const QString &path, const QString &key)
{
    auto query = m_core.controller(path, "GET"_ba, std::nullopt, m_app.model().settings());
    const std::optional<QByteArray> body = finish(std::move(query), 10'000);
    return QJsonDocument::fromJson(body.value_or(QByteArray())).object().value(key).toString();
}

} // namespace veyra::e2e
