#pragma once

#include "Driver.h"

namespace veyra::e2e {

// The application's side of a crash trial: it starts an operation that changes the system
// proxy ("connect", "disconnect" or "repair"), after printing "action-start" for the world's
// side, which kills it at a random moment of it. When the operation ends unkilled, it quits.
class CrashTrial : public Driver {
public:
    CrashTrial(ui::VeyraNetworkAssistantApp &app, MihomoManager &core, DriverOptions options, QString action);
    void run() override;

private:
    QString m_action;
};

// The start after a crash: once start-up has ended, it asks the world to record the proxy
// settings ("started"), then quits. The first start of a series signs in first ("sign-in").
class StartAfterCrash : public Driver {
public:
    StartAfterCrash(ui::VeyraNetworkAssistantApp &app, MihomoManager &core, DriverOptions options, bool signInFirst);
    void run() override;

private:
    bool m_signInFirst;
};

// The kernel killed while connected, `count` times: the time from the kill until every
// network service is restored, printed per round and as median and maximum.
class KernelKills : public Driver {
public:
    using Driver::Driver;
    void run() override;
};

} // namespace veyra::e2e
