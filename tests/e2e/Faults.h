#pragma once

#include "Driver.h"

namespace veyra::e2e {

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
    bool connectFailsLeavingSettingsAlone(const QString &screenshot);
    bool lineFailsItsCheck();
    bool kernelKilledWhileConnected();
    bool serviceGoneDuringRefresh();
    bool helperStopped();
    bool sessionEndedByService();
};

// The pid of the kernel the application runs (its child named after the kernel), or 0.
qint64 kernelPid();

} // namespace veyra::e2e
