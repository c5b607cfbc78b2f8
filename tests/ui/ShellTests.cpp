// One instance per session, and the shell's window handling.
#include "ServiceWorld.h"
#include "UiTestSupport.h"

#include "AppPaths.h"
#include "ApplicationMain.h"
#include "MainWindow.h"
#include "SingleInstance.h"
#include "VeyraNetworkAssistantApp.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <thread>

using namespace veyra;
using namespace veyra::test;
using namespace veyra::ui;

namespace {

// What a crashed instance left does not stop the next start; a later start then asks the
// running one to show itself and leaves. Only a folder of the user's own that no one else can
// write may hold the socket: another user holding it first would make every start hand over to
// them and leave.
TEST(SingleInstance, TheFirstStartClaimsTheSessionALaterOneHandsOverInAPrivateFolder)
{
    QTemporaryDir runtime, data;
    const QString path = runtime.filePath(QStringLiteral("instance.sock"));
    const int dead = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address { AF_UNIX, {} };
    qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path);
    ASSERT_EQ(::bind(dead, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ::close(dead);
    SingleInstance first(path);
    ASSERT_TRUE(first.claim());
    int activations = 0;
    QObject::connect(&first, &SingleInstance::activationRequested, [&] { ++activations; });
    // The later start blocks on its socket, as a starting process does, so it runs elsewhere.
    std::atomic<int> secondClaimed { -1 };
    std::thread later([&] { secondClaimed = SingleInstance(path).claim() ? 1 : 0; });
    EXPECT_TRUE(waitUntil([&] { return secondClaimed != -1; }, 10000));
    later.join();
    EXPECT_EQ(secondClaimed, 0);
    EXPECT_TRUE(waitUntil([&] { return activations == 1; }));

    AppPaths::setRootOverride(data.path());
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    const auto restore = qScopeGuard([&] {
        qputenv("XDG_RUNTIME_DIR", saved);
        AppPaths::setRootOverride({});
    });
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    for (const auto &[mode, folder] : { std::pair { 0700, runtime.path() }, { 0770, data.path() } }) {
        ASSERT_EQ(::chmod(QFile::encodeName(runtime.path()).constData(), mode_t(mode)), 0);
        EXPECT_TRUE(SingleInstance::defaultPath().startsWith(folder + u'/'))
            << "runtime folder mode " << std::oct << mode;
    }
    ASSERT_EQ(::chmod(QFile::encodeName(data.path()).constData(), 0777), 0);
    EXPECT_EQ(SingleInstance::defaultPath(), QString());
}

// The application itself, started twice by an ordinary user: the first process cannot be read
// or attached to by that user's other programs, runs no page that is not from a file (the root
// helper refuses a peer with executable anonymous memory), and the second one hands over and
// leaves.
TEST(ApplicationProcessIntegration, ItIsNotDumpableAndOnlyOneRunsPerSession)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to start the application as another user";
    QTemporaryDir home;
    ASSERT_EQ(::chown(home.path().toLocal8Bit().constData(), 65534, 65534), 0);
    QProcessEnvironment environment;
    for (const char *name : { "HOME", "XDG_RUNTIME_DIR" })
        environment.insert(QLatin1String(name), home.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    const auto startAsNobody = [&](QProcess &process) {
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral("/usr/bin/setpriv"),
            { QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups"),
                QStringLiteral(VEYRA_APPLICATION) });
    };
    QProcess first, second;
    const auto stop = qScopeGuard([&] {
        first.kill();
        first.waitForFinished(5000);
    });
    startAsNobody(first);
    // Checked once the first log line, masked by regular expressions (whose JIT makes such
    // pages), is written.
    const QDir logs(home.filePath(QStringLiteral(".local/share/VeyraNetworkAssistant/Logs")));
    ASSERT_TRUE(waitUntil([&] { return !logs.entryList(QDir::Files).isEmpty(); }, 20000));
    ASSERT_TRUE(
        waitUntil([&] { return QFile::exists(home.filePath(QStringLiteral("veyra-network-assistant.sock"))); }));
    EXPECT_EQ(QFileInfo(QStringLiteral("/proc/%1/environ").arg(first.processId())).ownerId(), 0u);
    for (const QByteArray &line : readBytes(QStringLiteral("/proc/%1/maps").arg(first.processId())).split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 5 && fields.at(1).size() >= 3 && fields.at(1).at(2) == 'x') {
            const QByteArray path = fields.value(5);
            EXPECT_TRUE(path.startsWith('/') || path == "[vdso]" || path == "[vsyscall]") << line.toStdString();
        }
    }
    startAsNobody(second);
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);
    first.terminate();
    EXPECT_TRUE(first.waitForFinished(20000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
}

class ShellIntegration : public ServiceWorld { };

// Shown once, the window starts the model; signed out, it ends by offering the sign-in sheet.
// Minimised or hidden, it comes back as the same window; closed, it gives its widgets and fonts
// back and never quits, and a later request builds it again. Qt's own texts are in Chinese.
TEST_F(ShellIntegration, TheWindowStartsUpTheModelAndComesBackWhenAskedFor)
{
    int left = 0;
    VeyraNetworkAssistantApp app(collaboratorsFor(seams()), [&] { ++left; });
    app.start();
    QPointer<MainWindow> window = app.mainWindow();
    ASSERT_TRUE(window && window->isVisible());
    ASSERT_TRUE(waitUntil([&] { return !app.model().isBusy() && app.model().showAuthentication(); }, 20000));
    EXPECT_EQ(app.model().authenticationMode(), AuthenticationMode::registration);
    window->showMinimized();
    app.showMainWindow();
    EXPECT_FALSE(window->isMinimized());
    window->hide();
    app.showMainWindow();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(app.mainWindow(), window);
    ASSERT_FALSE(app.trayIcon());
    window->close();
    EXPECT_TRUE(waitUntil([&] { return window.isNull(); }));
    EXPECT_TRUE(waitUntil([] { return !readBytes(QStringLiteral("/proc/self/smaps")).contains("/fonts/"); }));
    app.showMainWindow();
    ASSERT_TRUE(app.mainWindow() && app.mainWindow()->isVisible());
    EXPECT_EQ(left, 0) << "closing the window quit the application";

    ASSERT_TRUE(installPlatformTranslations());
    EXPECT_EQ(QCoreApplication::translate("QAbstractSocket", "Connection refused"), QStringLiteral("连接被拒绝"));
}

} // namespace
