#pragma once

#include "AppCollaborators.h"
#include "AppModel.h"

namespace veyra {

// What tests reach behind the model's public face: its collaborators, to look (the kernel's pid,
// the client's token), and single steps of its workflows, driven on their own.
class AppModelTestPeer {
public:
    static MihomoManager &core(AppModel &model) { return model.core(); }
    static APIClient &api(AppModel &model) { return model.api(); }
    static SettingsStore &settingsStore(AppModel &model) { return model.settingsStore(); }

    static bool coreMonitorRunning(const AppModel &model) { return model.coreMonitorRunning(); }
    static bool trafficMonitorRunning(const AppModel &model) { return model.trafficMonitorRunning(); }
    static bool paymentPollingRunning(const AppModel &model) { return model.paymentPollingRunning(); }
    static bool accessExpiryArmed(const AppModel &model) { return model.accessExpiryArmed(); }

    static QCoro::Task<> checkAfterWake(AppModel &model) { return model.checkAfterWake(); }
    static QCoro::Task<> resumePendingOrder(AppModel &model) { return model.resumePendingOrder(); }
    static void mergeTrafficUsageSources(AppModel &model) { model.mergeTrafficUsageSources(); }
    static void applyAbsoluteTrafficUsage(AppModel &model, qint64 bytes) { model.applyAbsoluteTrafficUsage(bytes); }
};

namespace test {
using Peer = AppModelTestPeer;
}

} // namespace veyra
