// Throughput of the kernel integrity check (streaming SHA-256 in 1 MiB chunks) on a 64 MiB
// file, next to `openssl dgst -sha256` on the same file. Prints both and their ratio.

#include "FileDigest.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

constexpr qint64 fileSize = 64 * 1024 * 1024;
constexpr int rounds = 3;

double mebibytesPerSecond(qint64 nanoseconds)
{
    return (double(fileSize) / (1024.0 * 1024.0)) / (double(nanoseconds) / 1e9);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir directory;
    const QString path = directory.path() + QStringLiteral("/kernel.bin");
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "cannot create %s\n", qPrintable(path));
            return 1;
        }
        QByteArray block(1024 * 1024, Qt::Uninitialized);
        QRandomGenerator generator(42);
        for (qint64 written = 0; written < fileSize; written += block.size()) {
            generator.fillRange(reinterpret_cast<quint32 *>(block.data()), block.size() / 4);
            file.write(block);
        }
    }

    QString ours;
    qint64 bestOurs = std::numeric_limits<qint64>::max();
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer clock;
        clock.start();
        ours = veyra::sha256File(path);
        bestOurs = std::min(bestOurs, clock.nsecsElapsed());
    }

    QString theirs;
    qint64 bestTheirs = std::numeric_limits<qint64>::max();
    for (int i = 0; i < rounds; ++i) {
        QProcess openssl;
        QElapsedTimer clock;
        clock.start();
        openssl.start(QStringLiteral("openssl"),
            { QStringLiteral("dgst"), QStringLiteral("-sha256"), QStringLiteral("-r"), path });
        if (!openssl.waitForFinished(120'000) || openssl.exitCode() != 0) {
            std::fprintf(stderr, "openssl dgst failed\n");
            return 1;
        }
        bestTheirs = std::min(bestTheirs, clock.nsecsElapsed());
        theirs = QString::fromUtf8(openssl.readAllStandardOutput()).section(QLatin1Char(' '), 0, 0).trimmed();
    }

    const double oursRate = mebibytesPerSecond(bestOurs);
    const double theirsRate = mebibytesPerSecond(bestTheirs);
    std::printf("file: 64 MiB, best of %d runs\n", rounds);
    std::printf("integrity check (sha256File):  %8.1f MiB/s  (%.1f ms)\n", oursRate, bestOurs / 1e6);
    std::printf("openssl dgst -sha256:          %8.1f MiB/s  (%.1f ms, including process start)\n", theirsRate,
        bestTheirs / 1e6);
    std::printf("ratio (ours / openssl):        %8.2f\n", oursRate / theirsRate);
    std::printf("digests %s\n", ours == theirs ? "match" : "DIFFER");
    return ours == theirs ? 0 : 1;
}
