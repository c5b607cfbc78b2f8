#pragma once

#include "MainWindow.h"
#include "SettingsSnapshot.h"
#include "UiTestSupport.h"
#include "VeyraNetworkAssistantApp.h"

#include <QCoroTask>

#include <functional>
#include <memory>
#include <optional>

class QDialog;
class QLineEdit;

namespace veyra {
class MihomoManager;
}

namespace veyra::e2e {

struct DriverOptions {
    QString screenshots; // folder for one PNG per step (none when empty)
    QString networkState; // the stand-in networksetup's state file (readable by the user)
    QString siteUrl; // a web site of the world; /bytes/N serves N bytes
    QString account;
    QString password;
    QString world; // "REQUESTS,REPLIES": named pipes to the world's root side (see World.h)
    int count = 0; // how many rounds a repeated scenario runs
    QString kioslaverc; // on a desktop instead of networkState: the user's KDE settings file
    QString action; // what a crash trial does: connect, disconnect or repair
    bool signInFirst = false; // the first start of a series signs in
};

// A scripted person at the application's real window: finds what is shown, clicks and types
// with QTest events, waits on nested event loops, checks and reports one line per check on
// standard output ("ok  ..." or "FAIL ..."). Scenarios derive from it.
class Driver {
public:
    Driver(ui::VeyraNetworkAssistantApp &app, MihomoManager &core, DriverOptions options);
    virtual ~Driver();

    // Runs the scenario and then quits the application through its menu, as a person would.
    virtual void run() = 0;
    bool passed() const { return m_failures == 0; }

    // The pages the application asked the browser to open; this "browser" fetches each one
    // and never shows the address (it carries the order's code).
    bool openInBrowser(const QString &url);

protected:
    AppModel &model() const { return m_app.model(); }
    QWidget *window() const { return m_app.mainWindow(); }
    bool openPage(const QString &title);
    bool click(const QString &buttonText);
    // Waits up to `limitMs` for the condition; a check that fails with what the window shows.
    bool waitFor(const QString &what, int limitMs, const std::function<bool()> &condition);
    // Waits for the model to settle with that status.
    bool waitForStatus(const QString &status, int limitMs);
    bool check(bool condition, const QString &what);
    void shot(const QString &name);
    void say(const QString &line);
    void quit();
    // The system proxy settings as the world's own tools read them (see SettingsSnapshot).
    QByteArray readSettings() const { return m_settings.take(); }
    // Asks the world's root side (scripts/e2e) to change the world: "nodes-down", "nodes-up",
    // "service-down", "service-up", "helper-stop", "revoke-tokens", and on a desktop
    // "browser-through-line", "browser-direct" (a real browser's road). The two named pipes
    // (`world`) are made by that side; each request is one line, answered by one line holding the
    // action's exit status. Blocks for as long as the action takes (a second or less).
    bool askWorld(const QString &action) const;
    // The text under `key` of a GET of the kernel's controller; empty when it does not answer.
    QString kernelState(const QString &path, const QString &key);

    // Common roads: signing in through the sheet, connecting and disconnecting with the
    // dashboard's button.
    bool waitForStartUp();
    bool signIn();
    bool signedIn() const { return model().user() && !model().showAuthentication() && !model().isBusy(); }
    bool connectLine(int limitMs = 30'000, const std::function<void()> &beforeClick = {});
    bool disconnectLine();
    // Connects, kills the kernel and answers the milliseconds until the system proxy settings
    // were as before; nothing when a step failed.
    std::optional<qint64> killKernelWhileConnected();

    ui::VeyraNetworkAssistantApp &m_app;
    MihomoManager &m_core;
    DriverOptions m_options;
    SettingsSnapshot m_settings;
    int m_step = 0;
    int m_failures = 0;
    int m_pagesOpened = 0;
};

// Runs a task on a nested event loop for at most `limitMs`; answers its result, or nothing
// when it failed or ran late (the task then finishes on its own).
template <typename T>
QCoro::Task<> keep(QCoro::Task<T> task, std::shared_ptr<std::optional<T>> result, std::shared_ptr<bool> done)
{
    try {
        result->emplace(co_await std::move(task));
    } catch (...) {
    }
    *done = true;
}

template <typename T> std::optional<T> finish(QCoro::Task<T> &&task, int limitMs)
{
    auto result = std::make_shared<std::optional<T>>();
    auto done = std::make_shared<bool>(false);
    QCoro::Task<> runner = keep<T>(std::move(task), result, done);
    test::waitUntil([&] { return *done; }, limitMs);
    return *result;
}

// What a person sees now, in the main window or a sheet over it.
QAbstractButton *shownButton(const QString &text);
QLineEdit *shownField(const QString &placeholder);
QDialog *shownSheet(QWidget *window);

} // namespace veyra::e2e
