// The bench's program: the end-to-end driver (tests/e2e) with two more scenarios, bench and
// launch, and memory-floor, which measures this executable without starting the application.
#include "Bench.h"
#include "DriverProgram.h"

#include <QApplication>
#include <QEvent>

using namespace veyra;

namespace {

// Notes the first paint of the main window, for the launch figure.
class FirstPaint : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && watched->inherits("veyra::ui::MainWindow")) {
            e2e::Bench::notePaint();
            qApp->removeEventFilter(this);
        }
        return false;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    for (int i = 1; i + 1 < argc; ++i)
        if (QByteArray(argv[i]) == "--scenario" && QByteArray(argv[i + 1]) == "memory-floor")
            return e2e::memoryFloor(argc, argv);
    return e2e::runDriver(argc, argv,
        { { QStringLiteral("bench"), e2e::make<e2e::Bench>() },
            { QStringLiteral("launch"), e2e::make<e2e::LaunchAndQuit>() } },
        [] { qApp->installEventFilter(new FirstPaint(qApp)); });
}
