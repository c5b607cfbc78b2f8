#include "AppPaths.h"
#include "Logger.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <utime.h>

// How many lines per second Logger::log writes when the log folder already holds the 14
// files it keeps, so every call pays for the folder listing as well as the append.
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int lines = argc > 1 ? std::atoi(argv[1]) : 20000;

    QTemporaryDir dir;
    veyra::AppPaths::setRootOverride(dir.path() + QStringLiteral("/VeyraNetworkAssistant"));
    veyra::AppPaths::prepare();
    const time_t old = 1'700'000'000;
    for (int i = 0; i < veyra::Logger::keptFiles; ++i) {
        const QString path = veyra::AppPaths::logs() + QStringLiteral("/veyra-2023%1.log").arg(1101 + i);
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(QByteArray(64 * 1024, 'x'));
        file.close();
        struct utimbuf times {
            old + i, old + i
        };
        ::utime(QFile::encodeName(path).constData(), &times);
    }

    const QString message = QStringLiteral(
        "连接失败：Authorization: Bearer abcdef0123456789 token=xyz subscriptionUrl=https://line.example/s");
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < lines; ++i)
        veyra::Logger::shared().log(message);
    const double seconds = timer.nsecsElapsed() / 1e9;

    std::printf("Logger.log with %d kept files: %d lines in %.3f s = %.0f lines/s (%.1f us/line)\n",
        veyra::Logger::keptFiles, lines, seconds, lines / seconds, seconds * 1e6 / lines);
    return 0;
}
