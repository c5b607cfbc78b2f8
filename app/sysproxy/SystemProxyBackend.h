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

    virtual QCoro::Task<void> enable(qint64 port) = 0;
    virtual QCoro::Task<void> restoreIfNeeded(bool force) = 0;
    virtual QCoro::Task<bool> recoverStaleProxy() = 0;
    // Whether the settings still hold everything the last enable applied and confirmed (false
    // when nothing is applied): someone else may have changed them since.
    virtual QCoro::Task<bool> stillApplied() = 0;
};

} // namespace veyra
