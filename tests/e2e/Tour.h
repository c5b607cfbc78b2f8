#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace veyra {
class MihomoManager;
}

namespace veyra::ui {
class VeyraNetworkAssistantApp;
}

namespace veyra::e2e {

struct TourOptions {
    QString screenshots; // folder for one PNG per step
    QString networkState; // the stand-in networksetup's state file (readable by the user)
    QString siteUrl; // a web site of the world; /bytes/N serves N bytes
    QString account;
    QString password;
};

// A person's first session with the application, driven through its real window with mouse
// clicks and key presses: register, buy a plan with WeChat Pay and then with Alipay, connect,
// browse through the system proxy, change node and mode, disconnect and quit. Each step is
// checked against what the window shows and against the world outside the application (the
// network services' proxy settings, the kernel's controller, bytes fetched through the proxy);
// a screenshot is saved per step and a line printed per check.
class Tour {
public:
    Tour(ui::VeyraNetworkAssistantApp &app, MihomoManager &core, TourOptions options);

    // Runs the whole tour on nested event loops and asks the application to quit at the end
    // (or at the first failed step, still through its normal quit).
    void run();
    bool passed() const { return m_failures == 0; }
    int failures() const { return m_failures; }

    // The checkout pages the application asked the browser to open; the tour's "browser"
    // fetches each one.
    bool openInBrowser(const QString &url);

private:
    bool registerAccount();
    bool buy(const QString &method, const QString &plan, const QString &shot);
    bool connectLine();
    bool browse();
    bool changeNode();
    bool changeMode();
    bool disconnectLine();
    void quit();

    QWidget *window() const;
    bool openPage(const QString &title);
    bool click(const QString &buttonText);
    bool waitFor(const QString &what, const std::function<bool()> &condition, int limitMs);
    bool check(bool condition, const QString &what);
    void shot(const QString &name);
    void say(const QString &line);
    QByteArray readNetworkState() const;
    QString kernelState(const QString &path);

    ui::VeyraNetworkAssistantApp &m_app;
    MihomoManager &m_core;
    TourOptions m_options;
    int m_step = 0;
    int m_failures = 0;
    int m_pagesOpened = 0;
    QByteArray m_servicesBefore;
};

} // namespace veyra::e2e
