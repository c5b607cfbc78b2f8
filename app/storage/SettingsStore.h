#pragma once

#include "AppSettings.h"
#include "PendingOrderRecord.h"
#include "SerialExecutor.h"

#include <QCoroTask>
#include <QDateTime>
#include <functional>
#include <optional>

namespace veyra {

// Loads, imports and saves the settings file and the pending-order record. Its operations run
// one at a time on its own thread, so file work never blocks the event loop.
class SettingsStore {
public:
    using Clock = std::function<QDateTime()>;
    explicit SettingsStore(Clock clock = [] { return QDateTime::currentDateTimeUtc(); });

    // Never fails: a missing file gives the defaults; a damaged one is moved aside first.
    QCoro::Task<AppSettings> loadSettings();
    // Reads, validates and adopts a settings file the user chose; nothing is written on failure.
    QCoro::Task<AppSettings> importSettings(QString path);
    // Validates and writes the settings file.
    QCoro::Task<> saveSettings(AppSettings settings);
    // Writes the record, or removes the file when there is none.
    QCoro::Task<> savePendingOrder(std::optional<PendingOrderRecord> record);
    // Moves a damaged file aside as NAME.broken-SECONDS.json; a failed move is ignored.
    QCoro::Task<> quarantine(QString path);

    // The synchronous cores of the operations above, for code already off the main thread.
    AppSettings loadSettingsNow();
    void quarantineNow(const QString &path);

private:
    Clock m_clock;
    SerialExecutor m_executor;
};

} // namespace veyra
