// The operations behind the settings page and the menu's repair entry.
#include "AppModel.h"

#include "Errors.h"

namespace veyra {

QCoro::Task<> AppModel::repairNetworkSettings()
{
    if (m_isBusy)
        co_return;
    setIsBusy(true);
    cancelMonitors();
    persistObservedTraffic();

    // Every saved service goes back, whether or not it still points at us; a failed restore
    // keeps the snapshot for another attempt and the kernel is then left alone.
    std::exception_ptr failure;
    try {
        co_await proxy().restoreIfNeeded(true);
        co_await core().stop(true);
    } catch (...) {
        failure = std::current_exception();
    }
    Step step(*this);
    if (failure) {
        present(describe(failure));
        setIsBusy(false);
        co_return;
    }
    setIsConnected(false);
    setIsCoreRunning(false);
    setStatusMessage(QStringLiteral("网络设置修复完成"));
    setIsBusy(false);
}

} // namespace veyra
