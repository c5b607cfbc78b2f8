// The desktop backend's enable and restore(force: false), against the real dconf-service on
// a private session bus and a kioslaverc in a private configuration folder.
#include "BenchSupport.h"

#include "DesktopProxyBackend.h"
#include "DesktopSession.h"

#include <QElapsedTimer>
#include <QFile>

#include <cstdio>

namespace veyra::bench {

void benchDesktopBackend()
{
    test::DesktopSession &session = test::DesktopSession::shared();
    const QString kioslaverc = session.configFolder() + QStringLiteral("/kioslaverc");
    const QByteArray corporate = "[system/proxy]\nmode='manual'\n\n[system/proxy/http]\nhost='proxy.corp.example'\n"
                                 "port=3128\n";
    const QByteArray kde = "# by hand\n[Proxy Settings]\nProxyType=1\nhttpProxy=http://proxy.corp.example 3128\n";

    constexpr int rounds = 15;
    std::vector<double> enables;
    std::vector<double> restores;
    DesktopProxyBackend backend;
    for (int round = 0; round < rounds; ++round) {
        session.dconfReset();
        session.dconfLoad(corporate);
        QFile file(kioslaverc);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(kde) != kde.size())
            std::abort();
        file.close();
        QElapsedTimer clock;
        clock.start();
        wait(backend.enable(7890));
        enables.push_back(clock.nsecsElapsed() / 1e6);
        clock.restart();
        wait(backend.restoreIfNeeded(false));
        restores.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::printf("\ndesktop backend (GSettings + kioslaverc), %d rounds\n", rounds);
    std::printf("enable first (ms)  enable median (ms)  restore median (ms)\n");
    std::printf("%17.1f  %18.1f  %19.1f\n", enables.front(), median(enables), median(restores));
}

} // namespace veyra::bench
