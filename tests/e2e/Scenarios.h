#pragma once

#include "Driver.h"

namespace veyra::e2e {

// A person's first session with the application: register, buy a plan with WeChat Pay and
// then with Alipay, connect, browse through the system proxy, change node and mode,
// disconnect and quit. Each step is checked against what the window shows and against the
// world outside the application (the system proxy settings, the kernel's controller, bytes
// fetched through the proxy, on a desktop a real browser); a screenshot is saved per step.
class Tour : public Driver {
public:
    using Driver::Driver;
    void run() override;

private:
    bool registerAccount();
    bool buy(const QString &method, const QString &plan, const QString &shot);
    bool connectAndCheck();
    bool browse();
    bool browserFollows(bool connected);
    bool changeNode();
    bool changeMode();
    bool disconnectAndCheck();

    QByteArray m_settingsBefore;
};

// What goes wrong, one after the other in one session of a signed-in member: the line fails
// its check (the nodes are down), the kernel is killed while connected, the service goes away
// during a refresh, the helper is stopped, and the service ends the session (401).
class Faults : public Driver {
public:
    using Driver::Driver;
    void run() override;

private:
    // Connect from the dashboard, which must fail with "连接失败", the kernel stopped and the
    // network services' settings exactly as before it.
    void connectFailsLeavingSettingsAlone(const QString &screenshot);
    void lineFailsItsCheck();
    void kernelKilledWhileConnected();
    void serviceGoneDuringRefresh();
    void helperStopped();
    void sessionEndedByService();
};

// The application's side of a crash trial: it starts the operation `action` that changes the
// system proxy ("connect", "disconnect" or "repair"), after printing "action-start" for the
// world's side, which kills it at a random moment of it. When the operation ends unkilled, it quits.
struct CrashTrial : Driver {
    using Driver::Driver;
    void run() override;
};

// The start after a crash: once start-up has ended, it asks the world to record the proxy
// settings ("started"), then quits. The first start of a series signs in first (`signInFirst`).
struct StartAfterCrash : Driver {
    using Driver::Driver;
    void run() override;
};

// The kernel killed while connected, `count` times: the time from the kill until every
// network service is restored, printed per round and as median and maximum.
struct KernelKills : Driver {
    using Driver::Driver;
    void run() override;
};

// An hour (or `count` minutes) of ordinary use while connected, for the world's side to watch
// the processes' memory, descriptors and threads: a steady 1 MB/s download through the proxy the
// whole time, a latency test every 5 minutes, another node every 10, the window opened and
// closed every 15 (closed in between). Prints "soak: ..." lines: each action, each download
// that failed or came up short, and the totals at the end.
struct Soak : Driver {
    using Driver::Driver;
    void run() override;
};

} // namespace veyra::e2e
