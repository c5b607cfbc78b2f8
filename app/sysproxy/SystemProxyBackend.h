#pragma once

#include <QCoroTask>
#include <QtGlobal>

namespace veyra {

// One way of pointing this machine's proxy settings at the local port and putting them back.
// Every backend keeps the same promises: a journal is written before the first change, what
// was applied is read back and undone when the system does not confirm it, a restore puts
// back only what still holds our values unless forced, and the next start repairs from the
// journal what a crash left behind.
class SystemProxyBackend {
public:
    virtual ~SystemProxyBackend() = default;

    // Points the settings at the port once `lineChecked` has ended well. The reads that come
    // before the first change may run while it is still under way (reading changes nothing);
    // its failure is passed on before any of theirs, and nothing is changed after it.
    virtual QCoro::Task<void> enable(qint64 port, QCoro::Task<void> lineChecked) = 0;
    QCoro::Task<void> enable(qint64 port) { return enable(port, nothingToWaitFor()); }
    virtual QCoro::Task<void> restoreIfNeeded(bool force) = 0;
    virtual QCoro::Task<bool> recoverStaleProxy() = 0;
    // Whether the settings still hold everything the last enable applied and confirmed (false
    // when nothing is applied): someone else may have changed them since.
    virtual QCoro::Task<bool> stillApplied() = 0;

private:
    static QCoro::Task<void> nothingToWaitFor() { co_return; }
};

} // namespace veyra
