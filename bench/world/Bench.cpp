#include "Bench.h"

#include "AppModel.h"
#include "Icons.h"
#include "AppPaths.h"
#include "MihomoManager.h"
#include "PrivilegedProxyClient.h"
#include "ContainmentPolicy.h"
#include "ServiceSettings.h"
#include "ToolRunner.h"
#include "veyra/ipc/ProxyHelperConstants.h"
#include "NetworkSetupProxyBackend.h"
#include "VeyraNetworkAssistantApp.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QSystemTrayIcon>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <ctime>
#include <functional>
#include <sys/resource.h>
#include <unistd.h>

namespace veyra::e2e {

namespace {

constexpr int connectRoundsCount = 10;
constexpr int idleWindowMs = 60'000;
constexpr int downloadWindowMs = 30'000;

qint64 cpuTimeMs()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval &t) { return qint64(t.tv_sec) * 1000 + t.tv_usec / 1000; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

struct Memory {
    qint64 rss = -1, pss = -1, anonymous = -1; // kB
};

// Resident and proportional set size of this process, and its anonymous (own) memory.
Memory memoryKb()
{
    QFile file(QStringLiteral("/proc/self/smaps_rollup"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromLatin1(file.readAll());
    const auto field = [&](const char *name) {
        const QRegularExpression line(QStringLiteral("^%1:\\s+(\\d+) kB").arg(QLatin1String(name)),
            QRegularExpression::MultilineOption);
        return line.match(text).captured(1).toLongLong();
    };
    return { field("Rss"), field("Pss"), field("Anonymous") };
}

// The largest resident parts of this process by mapped file ("[anonymous]" for memory of its
// own), for telling what the resident figure is made of.
QString largestResidentParts(int count)
{
    QFile file(QStringLiteral("/proc/self/smaps"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QMap<QString, qint64> kb;
    QString current;
    const QRegularExpression header(QStringLiteral("^[0-9a-f]+-[0-9a-f]+ \\S+ \\S+ \\S+ \\S+\\s*(.*)$"));
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw);
        const QRegularExpressionMatch match = header.match(line);
        if (match.hasMatch()) {
            current = match.captured(1);
            if (current.isEmpty() || current.startsWith(u'['))
                current = QStringLiteral("[anonymous]");
            else
                current = current.section(u'/', -1);
        } else if (line.startsWith(QStringLiteral("Rss:"))) {
            kb[current] += line.mid(4).trimmed().section(u' ', 0, 0).toLongLong();
        }
    }
    QList<std::pair<qint64, QString>> parts;
    for (auto it = kb.cbegin(); it != kb.cend(); ++it)
        parts.append({ it.value(), it.key() });
    std::sort(parts.begin(), parts.end(), std::greater<>());
    QStringList shown;
    for (int i = 0; i < count && i < parts.size(); ++i)
        shown << QStringLiteral("%1 %2 MB").arg(parts[i].second).arg(parts[i].first / 1024.0, 0, 'f', 1);
    return shown.join(QStringLiteral(", "));
}

struct Marks {
    qint64 starting = -1, checking = -1, applying = -1, connected = -1;
};

QCoro::Task<bool> runHelperRequest(ipc::CommandList commands)
{
    try {
        PrivilegedProxyClient client;
        co_await client.execute(std::move(commands));
        co_return true;
    } catch (const std::exception &) {
        co_return false;
    }
}

// The tool runs one helper request of these lines makes, made here with the helper's own code
// against a copy of the settings, so that nothing real changes: for each service pointed here its
// settings read for the record, then the lines. The milliseconds, or -1 if a run failed.
qint64 toolRuns(const ipc::CommandList &lines, const QString &state)
{
    QTemporaryDir dir;
    const QString copy = dir.filePath(QStringLiteral("state.json"));
    if (state.isEmpty() || !QFile::copy(state, copy))
        return -1;
    std::vector<std::string> environment = helper::minimalToolEnvironment();
    environment.push_back("VEYRA_NETWORKSETUP_STATE=" + copy.toStdString());
    const std::string tool(ipc::ProxyHelperConstants::networkSetupPath);
    QElapsedTimer clock;
    clock.start();
    try {
        for (const std::string &service : helper::servicesPointedAtLoopback(lines))
            helper::readServiceSettings(tool, environment, service);
        for (const ipc::CommandLine &line : lines)
            if (line.empty() || helper::runTool(line[0], { line.begin() + 1, line.end() }, environment).exitStatus != 0)
                return -1;
    } catch (const std::exception &error) {
        qWarning("bench: the tool runs failed: %s", error.what());
        return -1;
    }
    return clock.elapsed();
}

// Starts the kernel by hand with the application's own configuration and answers the time
// until its controller answers an HTTP request, or -1.
qint64 kernelByHand(const QString &configuration, int controllerPort)
{
    QTemporaryDir directory;
    QProcess kernel;
    kernel.setProgram(AppPaths::core());
    kernel.setArguments({ QStringLiteral("-d"), directory.path(), QStringLiteral("-f"), configuration });
    kernel.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    kernel.start();
    qint64 answered = -1;
    while (answered < 0 && clock.elapsed() < 10'000 && kernel.state() != QProcess::NotRunning) {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(controllerPort));
        if (socket.waitForConnected(200)) {
            socket.write("GET /version HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
            if (socket.waitForReadyRead(1000) && socket.readAll().startsWith("HTTP/"))
                answered = clock.elapsed();
        } else {
            QThread::msleep(2);
        }
        QCoreApplication::processEvents();
    }
    kernel.kill();
    kernel.waitForFinished(2000);
    return answered;
}

} // namespace

qint64 Bench::processAgeMs()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // Field 22 (start time, in clock ticks after boot) counted after the command's ')'.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const qint64 startTicks = fields.value(19).toLongLong();
    timespec now {};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    const qint64 nowMs = qint64(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
    return nowMs - startTicks * 1000 / ::sysconf(_SC_CLK_TCK);
}

void Bench::notePaint()
{
    if (s_firstPaintAgeMs < 0)
        s_firstPaintAgeMs = processAgeMs();
}

void Bench::run()
{
    const bool ready = waitForStartUp() && check(model().membershipActive(), QStringLiteral("signed in as a member"));
    if (ready) {
        launchFigures();
        connectRounds(connectRoundsCount);
        idleFigures();
        toolFloor(connectRoundsCount);
    }
    quit();
}

void Bench::launchFigures()
{
    say(QStringLiteral("launch: first paint %1 ms, start-up ended %2 ms after the process started (\"%3\"); target <= 150 ms and <= 300 ms")
            .arg(firstPaintAgeMs())
            .arg(processAgeMs())
            .arg(model().statusMessage()));
}

void Bench::connectRounds(int rounds)
{
    QList<qint64> total, kernel, verify, enable, own, disconnect, kernelFloor, curlFloor, helperFloor;
    QTemporaryDir keep;
    const QString configuration = keep.filePath(QStringLiteral("config.yaml"));
    QElapsedTimer clock;
    Marks marks;
    QObject context;
    QObject::connect(&model(), &AppModel::statusMessageChanged, &context, [&] {
        const QString status = model().statusMessage();
        if (status == QStringLiteral("正在安全启动…"))
            marks.starting = clock.elapsed();
        else if (status == QStringLiteral("正在检查线路可用性…"))
            marks.checking = clock.elapsed();
        else if (status == QStringLiteral("正在应用系统代理…"))
            marks.applying = clock.elapsed();
        else if (status.startsWith(QStringLiteral("已安全连接 · ")))
            marks.connected = clock.elapsed();
    });
    for (int round = 0; round < rounds; ++round) {
        marks = {};
        if (!connectLine(30'000, [&] { clock.start(); }) || marks.connected < 0 || marks.applying < 0)
            return;
        total << marks.connected;
        kernel << marks.checking - marks.starting;
        verify << marks.applying - marks.checking;
        enable << marks.connected - marks.applying;
        own << marks.connected - (marks.checking - marks.starting) - (marks.applying - marks.checking)
                - (marks.connected - marks.applying);

        // Floors while connected: one fetch through the kernel, one helper request of the
        // same lines the application sends.
        const qint64 port = model().settings().mixedPort;
        QProcess curl;
        QElapsedTimer fetch;
        fetch.start();
        curl.start(QStringLiteral("curl"), { QStringLiteral("-sS"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
                                              QStringLiteral("-x"), QStringLiteral("http://127.0.0.1:%1").arg(port),
                                              m_core.connectivityCheckURL() });
        curl.waitForFinished(10'000);
        curlFloor << fetch.elapsed();
        ipc::CommandList lines;
        for (const QJsonValue &service : QJsonDocument::fromJson(readSettings()).array())
            if (!service.toObject().value(QStringLiteral("ipAddress")).toString().isEmpty())
                for (const ipc::CommandLine &line : NetworkSetupProxyBackend::applyCommands(
                         service.toObject().value(QStringLiteral("name")).toString(), port))
                    lines.push_back(line);
        QElapsedTimer helper;
        helper.start();
        auto request = runHelperRequest(lines);
        if (finish(std::move(request), 15'000).value_or(false))
            helperFloor << helper.elapsed();
        m_helperLines = lines;
        QFile::remove(configuration);
        QFile::copy(AppPaths::config(), configuration);

        QElapsedTimer off;
        off.start();
        if (!disconnectLine())
            return;
        disconnect << off.elapsed();
        const qint64 byHand = kernelByHand(configuration, static_cast<int>(model().settings().controllerPort));
        if (byHand >= 0)
            kernelFloor << byHand;
    }
    report(QStringLiteral("connect"), total, QStringLiteral("ms"),
        m_settings.desktop() ? QStringLiteral("<= 400 ms") : QStringLiteral("<= 600 ms"));
    report(QStringLiteral("connect: kernel (configure, test run, start, controller ready)"), kernel, QStringLiteral("ms"));
    report(QStringLiteral("  floor: the kernel started by hand until its controller answers"), kernelFloor, QStringLiteral("ms"));
    report(QStringLiteral("connect: verifyProxy"), verify, QStringLiteral("ms"));
    report(QStringLiteral("  floor: one curl through the running kernel"), curlFloor, QStringLiteral("ms"));
    report(QStringLiteral("connect: enable (settings written and read back)"), enable, QStringLiteral("ms"),
        QStringLiteral("<= 250 ms"));
    report(QStringLiteral("  floor: one helper request of the same lines"), helperFloor, QStringLiteral("ms"),
        QStringLiteral("<= its tool runs + 30 ms"));
    report(QStringLiteral("connect: the application's own remainder"), own, QStringLiteral("ms"));
    report(QStringLiteral("disconnect"), disconnect, QStringLiteral("ms"), QStringLiteral("<= 300 ms"));
}

// Last, so that the forks of this large process cannot add to the memory figures.
void Bench::toolFloor(int rounds)
{
    QList<qint64> runs;
    for (int round = 0; round < rounds && !m_helperLines.empty(); ++round)
        if (const qint64 tools = toolRuns(m_helperLines, m_options.networkState); tools >= 0)
            runs << tools;
    report(QStringLiteral("  floor of one helper request: its tool runs (the record's reads, then the lines), run from here"),
        runs, QStringLiteral("ms"));
}

void Bench::idleFigures()
{
    if (!connectLine())
        return;
    // The window closed: the application lives in the tray.
    window()->close();
    const bool closed = waitFor(QStringLiteral("the window to close"), 5'000, [&] { return !m_app.mainWindow(); });
    check(closed && model().isConnected(), QStringLiteral("connected with the window closed (tray only)"));
    // Idles for the window's length, then prints memory and the CPU time spent meanwhile.
    const auto idleFigure = [&](const QString &what, const QString &target) {
        const qint64 before = cpuTimeMs();
        idle(idleWindowMs);
        const qint64 spent = cpuTimeMs() - before;
        const Memory memory = memoryKb();
        say(QStringLiteral("bench: %1, %2 s idle: RSS %3 MB (anonymous %4 MB), PSS %5 MB, CPU %6 ms (%7 % of one core); target %8")
                .arg(what)
                .arg(idleWindowMs / 1000)
                .arg(memory.rss / 1024.0, 0, 'f', 1)
                .arg(memory.anonymous / 1024.0, 0, 'f', 1)
                .arg(memory.pss / 1024.0, 0, 'f', 1)
                .arg(spent)
                .arg(100.0 * spent / idleWindowMs, 0, 'f', 2)
                .arg(target));
    };
    const auto parts = [&](const QString &name) {
        // The whole map too, beside the screenshots, for a closer look.
        QFile map(QStringLiteral("/proc/self/smaps"));
        QFile copy(QDir(m_options.screenshots).filePath(name + QStringLiteral(".smaps")));
        if (!m_options.screenshots.isEmpty() && map.open(QIODevice::ReadOnly) && copy.open(QIODevice::WriteOnly))
            copy.write(map.readAll());
        say(QStringLiteral("bench:   largest resident parts: %1; %2 threads")
                .arg(largestResidentParts(12))
                .arg(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size()));
    };
    idleFigure(QStringLiteral("window closed, connected"), QStringLiteral("RSS <= 50 MB, PSS <= 35 MB, CPU <= 0.1 %"));
    parts(QStringLiteral("window-closed"));

    m_app.showMainWindow();
    waitFor(QStringLiteral("the window"), 5'000, [&] { return window() && window()->isVisible(); });
    openPage(QStringLiteral("首页"));
    idleFigure(QStringLiteral("window open on the dashboard, connected"), QStringLiteral("RSS <= 62 MB"));
    parts(QStringLiteral("window-open"));

    // A steady 1 MB/s download through the proxy: the traffic monitor and the dashboard at work.
    QProcess curl;
    curl.start(QStringLiteral("curl"),
        { QStringLiteral("-sS"), QStringLiteral("-o"), QStringLiteral("/dev/null"), QStringLiteral("--limit-rate"),
            QStringLiteral("1M"), QStringLiteral("--max-time"), QString::number(downloadWindowMs / 1000 + 2),
            QStringLiteral("-w"), QStringLiteral("%{size_download}"),
            QStringLiteral("-x"), QStringLiteral("http://127.0.0.1:%1").arg(model().settings().mixedPort),
            m_options.siteUrl + QStringLiteral("bytes/60000000") });
    idle(2'000); // the transfer reaches its rate
    const qint64 before = cpuTimeMs();
    idle(downloadWindowMs);
    const qint64 spent = cpuTimeMs() - before;
    const Memory memory = memoryKb();
    curl.waitForFinished(5'000);
    say(QStringLiteral("bench: window open, 1 MB/s download, %1 s: RSS %2 MB, CPU %3 ms (%4 % of one core); %5 bytes came through")
            .arg(downloadWindowMs / 1000)
            .arg(memory.rss / 1024.0, 0, 'f', 1)
            .arg(spent)
            .arg(100.0 * spent / downloadWindowMs, 0, 'f', 2)
            .arg(QString::fromUtf8(curl.readAllStandardOutput())));
}

void Bench::report(const QString &name, QList<qint64> values, const QString &unit, const QString &target)
{
    if (values.isEmpty()) {
        say(QStringLiteral("bench: %1: no samples").arg(name));
        return;
    }
    std::sort(values.begin(), values.end());
    say(QStringLiteral("bench: %1: median %2 %4, max %3 %4 (n=%5)%6")
            .arg(name)
            .arg(values.at(values.size() / 2))
            .arg(values.last())
            .arg(unit)
            .arg(values.size())
            .arg(target.isEmpty() ? QString() : QStringLiteral("; target ") + target));
}

void LaunchAndQuit::run()
{
    if (!waitForStartUp())
        return quit();
    say(QStringLiteral("launch: first paint %1 ms, start-up ended %2 ms after the process started")
            .arg(Bench::firstPaintAgeMs())
            .arg(Bench::processAgeMs()));
    if (!connectLine())
        return quit();
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    say(QStringLiteral("quit-requested %1").arg(qint64(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000));
    quit();
}

int memoryFloor(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const auto settle = [](int ms) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    };
    const auto print = [](const QString &what) {
        const Memory memory = memoryKb();
        printf("tour: bench: floor: %s: RSS %.1f MB (anonymous %.1f MB), PSS %.1f MB\n", qPrintable(what),
            memory.rss / 1024.0, memory.anonymous / 1024.0, memory.pss / 1024.0);
        fflush(stdout);
    };
    QSystemTrayIcon tray(ui::symbolIcon(QStringLiteral("network.badge.shield.half.filled")));
    tray.show();
    settle(5'000);
    print(QStringLiteral("this executable with a tray icon and no application"));

    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(QStringLiteral("准备就绪 · Ready")));
    window.resize(960, 640);
    window.show();
    settle(3'000);
    print(QStringLiteral("and a window of one line of text"));
    return 0;
}

void Bench::idle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace veyra::e2e
