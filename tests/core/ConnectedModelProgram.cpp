// A stand-in for the application until its window exists: the model with the test world's
// collaborators, signed in, connected, and the quit delegate watching for SIGTERM. Prints one
// line when connected ("connected PID PORT") or when it could not get there ("failed TEXT").
#include "AppDelegate.h"
#include "AppModelTestPeer.h"
#include "AppPaths.h"
#include "TestModel.h"

#include <QCoreApplication>
#include <QSslCertificate>
#include <QTimer>

#include <cstdio>

using namespace veyra;
using namespace veyra::test;

namespace {

void report(const QByteArray &line)
{
    std::printf("%s\n", line.constData());
    std::fflush(stdout);
}

QCoro::Task<> signInConnectAndReport(AppModel &model, QString account, QString password, QString settings)
{
    co_await model.login(account, password, false);
    if (!model.officialLineReady()) {
        report("failed sign-in: " + model.authenticationErrorMessage().value_or(QString()).toUtf8());
        co_return;
    }
    co_await model.importSettings(settings);
    co_await model.connect();
    if (model.isConnected())
        report("connected " + QByteArray::number(Peer::core(model).processId()) + ' '
            + QByteArray::number(model.settings().mixedPort));
    else
        report("failed " + model.alertMessage().value_or(model.statusMessage()).toUtf8());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 12) {
        std::fprintf(stderr,
            "usage: connected-model DATA RESOURCES CHECK SOCKET NETWORKSETUP DEFAULTS SERVICE CERTIFICATE "
            "ACCOUNT PASSWORD SETTINGS\n");
        return 2;
    }
    AppPaths::setRootOverride(arguments[1]);
    APIClientOptions service;
    service.baseURL = QUrl(arguments[7]);
    service.extraCACertificates = QSslCertificate::fromPath(arguments[8]);
    service.deviceID = QStringLiteral("test-device-0002");
    const WorldSeams seams { arguments[2], arguments[3], arguments[4], arguments[5], arguments[6],
        QStringLiteral("connected-model-notifications"), service };
    AppModel model(collaboratorsFor(seams));

    AppDelegate delegate(&model);
    delegate.watchQuitRequests();
    QTimer::singleShot(0, &model, [&model, account = arguments[9], password = arguments[10], settings = arguments[11]] {
        signInConnectAndReport(model, account, password, settings);
    });
    return app.exec();
}
