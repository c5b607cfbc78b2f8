// Requests per second and median latency of the service client against the simulator on
// loopback, for the current-account and plan-list requests.
//
//   bench_api_client [requests-per-run]
#include "APIClient.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <sys/prctl.h>
#include <vector>

using namespace veyra;

namespace {

struct Simulator {
    QTemporaryDir dir;
    QProcess process;
    QString origin;
    QList<QSslCertificate> certificates;

    bool start()
    {
        const QString key = dir.filePath("server.key"), certificate = dir.filePath("server.pem");
        QProcess openssl;
        openssl.start("openssl",
            { "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key,
                "-out", certificate, "-days", "1", "-subj", "/CN=bench", "-addext", "subjectAltName=IP:127.0.0.1" });
        if (!openssl.waitForFinished(30'000) || openssl.exitCode() != 0)
            return false;
        certificates = QSslCertificate::fromPath(certificate);
        process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        process.start(VEYRA_SERVICE_SIMULATOR,
            { "--cert", certificate, "--key", key, "--listen", "127.0.0.1:0", "--account",
                "13800138000:password123:active" });
        QByteArray output;
        for (int i = 0; i < 40 && !output.contains("ready\n"); ++i) {
            process.waitForReadyRead(250);
            output += process.readAllStandardOutput();
        }
        for (const QByteArray &line : output.split('\n'))
            if (line.startsWith("listening "))
                origin = QString::fromUtf8(line.mid(10));
        return !origin.isEmpty();
    }
    ~Simulator()
    {
        process.kill();
        process.waitForFinished(5'000);
    }
};

struct Figures {
    double perSecond = 0;
    double medianMs = 0;
};

template <typename Call> QCoro::Task<Figures> measure(int count, Call call)
{
    std::vector<double> latencies;
    latencies.reserve(count);
    QElapsedTimer total;
    total.start();
    for (int i = 0; i < count; ++i) {
        QElapsedTimer one;
        one.start();
        co_await call();
        latencies.push_back(one.nsecsElapsed() / 1e6);
    }
    const double seconds = total.nsecsElapsed() / 1e9;
    std::sort(latencies.begin(), latencies.end());
    co_return Figures { count / seconds, latencies[latencies.size() / 2] };
}

QCoro::Task<int> run(Simulator &simulator, int count)
{
    APIClientOptions options;
    options.baseURL = QUrl(simulator.origin + "/api/v1/");
    options.extraCACertificates = simulator.certificates;
    APIClient client(std::nullopt, options);
    const AuthResult signedIn = co_await client.login("13800138000", "password123", false);
    client.setToken(signedIn.token);

    co_await client.currentUser(); // warm the connection and TLS session
    const Figures me = co_await measure(count, [&] { return client.currentUser(); });
    const Figures plans = co_await measure(count, [&] { return client.plans(); });
    std::printf("APIClient against the simulator on loopback, %d sequential requests each\n", count);
    std::printf("  me     %8.0f requests/s   median %.3f ms\n", me.perSecond, me.medianMs);
    std::printf("  plans  %8.0f requests/s   median %.3f ms\n", plans.perSecond, plans.medianMs);
    co_return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 2000;
    Simulator simulator;
    if (!simulator.start()) {
        std::fprintf(stderr, "could not start the service simulator\n");
        return 1;
    }
    return QCoro::waitFor(run(simulator, count));
}
