// A stand-in for the application until its window exists: the model with the test world's
// collaborators, connected, and the quit delegate watching for SIGTERM. Prints one line when
// connected ("connected PID PORT") or when the connection failed ("failed TEXT").
#include "AppDelegate.h"
#include "AppPaths.h"
#include "KernelTestSupport.h"
#include "TestModel.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

using namespace veyra;
using namespace veyra::test;

namespace {

QCoro::Task<> connectAndReport(MemberModel &model, QString line)
{
    try {
        co_await model.officialLineStore().synchronize(line);
    } catch (const std::exception &error) {
        std::printf("failed %s\n", error.what());
        std::fflush(stdout);
        co_return;
    }
    co_await model.connect();
    if (model.isConnected())
        std::printf("connected %lld %lld\n", static_cast<long long>(model.core().processId()),
            static_cast<long long>(model.settings().mixedPort));
    else
        std::printf("failed %s\n", model.alertMessage().value_or(model.statusMessage()).toUtf8().constData());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 8) {
        std::fprintf(stderr, "usage: connected-model DATA RESOURCES CHECK LINE SOCKET NETWORKSETUP DEFAULTS\n");
        return 2;
    }
    AppPaths::setRootOverride(arguments[1]);
    const WorldSeams seams { arguments[2], arguments[3], arguments[5], arguments[6], arguments[7],
        QStringLiteral("connected-model-notifications"), std::nullopt };
    MemberModel model(collaboratorsFor(seams));
    model.becomeMember();
    model.setSettings(settingsWithFreePorts());

    AppDelegate delegate(&model);
    delegate.watchQuitRequests();
    QTimer::singleShot(0, &model, [&model, line = arguments[4]] { connectAndReport(model, line); });
    return app.exec();
}
