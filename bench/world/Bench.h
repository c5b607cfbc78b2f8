#pragma once

#include "Driver.h"

#include "veyra/ipc/ProxyHelperRecords.h"

#include <QElapsedTimer>
#include <QList>

namespace veyra::e2e {

// The figures of the assembled application in the world, each next to the floor it cannot
// beat, measured in the same run: connect and its parts (and, as floors, the kernel started by
// hand until its controller answers, one fetch through the running kernel, one helper request
// of the same lines), disconnect, memory and CPU time with the window closed and open, under a
// steady download, and launch. Prints "bench: NAME median MAX max UNIT [floor ...]" lines.
class Bench : public Driver {
public:
    using Driver::Driver;
    void run() override;

    // When the process started and when its main window was first painted (set by the
    // program from an event filter installed before the window exists).
    static qint64 processAgeMs();
    static void notePaint();
    static qint64 firstPaintAgeMs() { return s_firstPaintAgeMs; }

private:
    void connectRounds(int rounds);
    void idleFigures();
    void toolFloor(int rounds);
    void launchFigures();
    void report(const QString &name, QList<qint64> values, const QString &unit, const QString &target = {});
    // Waits `ms` on an event loop that does nothing else, so the driver adds no wake-ups.
    void idle(int ms);

    ipc::CommandList m_helperLines; // the last connect's lines, for the tool runs' floor
    static inline qint64 s_firstPaintAgeMs = -1;
};

// The memory floor, in a process of this same executable that does not start the application:
// a tray icon alone, then also a small window with one line of text in the interface's font.
// Prints "bench: floor: ..." lines and answers the exit status.
int memoryFloor(int argc, char *argv[]);

// One start of the application for the launch and quit figures: the launch times once
// start-up has ended, then a connect and a quit while connected, whose request time it prints
// ("quit-requested MS", wall clock) for the world's side to compare with the process's end.
class LaunchAndQuit : public Driver {
public:
    using Driver::Driver;
    void run() override;
};

} // namespace veyra::e2e
