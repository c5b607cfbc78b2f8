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

} // namespace veyra::e2e
