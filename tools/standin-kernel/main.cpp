// Stand-in proxy kernel: validates and runs the configuration the application writes, proxies
// real traffic through the nodes of its HTTP provider, and answers the controller requests the
// application makes. Used by the tests, the sandbox and the demo in place of a real kernel build.

#include "Kernel.h"
#include "KernelConfig.h"
#include "ProviderStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QSslCertificate>
#include <QSslConfiguration>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = { -1, -1 };

void onSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe work here; the event loop does the rest.
    [[maybe_unused]] ssize_t written = ::write(signalPipe[1], &byte, 1);
}

int usage()
{
    std::fprintf(stderr, "usage: mihomo [-t] [--trust-certificate PEM] [--map-host NAME=ADDRESS[:PORT]] -d HOME -f CONFIG\n");
    return 2;
}

// Adds the certificates of a PEM file to the authorities this process trusts for https
// (provider downloads, delay probes), next to the system's own. Test set-ups use it for a
// certificate they made themselves; certificate checks themselves always stay on.
bool trustCertificates(const QString &path)
{
    const QList<QSslCertificate> extra
        = QSslCertificate::fromPath(path, QSsl::Pem, QSslCertificate::PatternSyntax::FixedString);
    if (extra.isEmpty()) {
        std::fprintf(stderr, "no certificate in %s\n", qPrintable(path));
        return false;
    }
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates(QSslConfiguration::systemCaCertificates() + extra);
    QSslConfiguration::setDefaultConfiguration(tls);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    bool testOnly = false;
    QString home;
    QString file;
    const QStringList arguments = app.arguments().mid(1);
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument == QLatin1String("-t")) {
            testOnly = true;
        } else if (argument == QLatin1String("-v")) {
            std::printf("stand-in kernel 1.0\n");
            return 0;
        } else if ((argument == QLatin1String("-d") || argument == QLatin1String("-f")) && i + 1 < arguments.size()) {
            (argument == QLatin1String("-d") ? home : file) = arguments[++i];
        } else if (argument == QLatin1String("--map-host") && i + 1 < arguments.size()) {
            const QStringList pair = arguments[++i].split(QLatin1Char('='));
            if (pair.size() != 2 || pair[0].isEmpty() || pair[1].isEmpty())
                return usage();
            standin::mapHost(pair[0], pair[1]);
        } else if (argument == QLatin1String("--trust-certificate") && i + 1 < arguments.size()) {
            if (!trustCertificates(arguments[++i]))
                return 2;
        } else {
            return usage();
        }
    }
    if (home.isEmpty())
        home = QDir::currentPath();
    home = QDir(home).absolutePath();
    if (file.isEmpty())
        file = home + QStringLiteral("/config.yaml");
    file = QFileInfo(file).absoluteFilePath();

    standin::KernelConfig config;
    try {
        config = standin::KernelConfig::load(file, home);
    } catch (const standin::ConfigError &error) {
        std::fprintf(stderr, "configuration file %s test failed: %s\n", qPrintable(file), error.what());
        return 1;
    }
    if (testOnly) {
        std::printf("configuration file %s test is successful\n", qPrintable(file));
        return 0;
    }

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) {
        std::perror("socketpair");
        return 1;
    }
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [] {
        char byte;
        [[maybe_unused]] ssize_t got = ::read(signalPipe[0], &byte, 1);
        std::printf("[info] received termination signal, shutting down\n");
        std::fflush(stdout);
        QCoreApplication::exit(0);
    });
    struct sigaction action { };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);

    standin::Kernel kernel(config, home);
    kernel.log(QStringLiteral("[info] stand-in kernel starting, home %1, configuration %2").arg(home, file));
    QObject::connect(&kernel, &standin::Kernel::fatal, &app, [] { QCoreApplication::exit(1); });
    if (!kernel.start())
        return 1;
    return app.exec();
}
