#include "ApplicationMain.h"

#include "AppInfo.h"
#include "AppPaths.h"
#include "Logger.h"
#include "SingleInstance.h"
#include "Theme.h"
#include "VeyraNetworkAssistantApp.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTextStream>
#include <QTranslator>
#include <QTimer>

#include <malloc.h>
#include <sys/prctl.h>

namespace veyra::ui {

bool installPlatformTranslations()
{
    auto *texts = new QTranslator(QCoreApplication::instance());
    if (!texts->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qt"), QStringLiteral("_"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete texts;
        return false;
    }
    return QCoreApplication::installTranslator(texts);
}

int runApplication(int argc, char *argv[], const std::function<AppCollaborators()> &makeCollaborators,
    const std::function<void(VeyraNetworkAssistantApp &)> &started)
{
    // Before anything else: no other process of this user may attach to this one (ptrace,
    // /proc/<pid>/mem) and speak to the root helper in its name.
    ::prctl(PR_SET_DUMPABLE, 0);
    // No code is ever generated at run time: the helper serves only a process whose every
    // executable page comes from a root-protected file, and the regular-expression JIT would
    // make writable, executable anonymous memory.
    qputenv("QT_ENABLE_REGEXP_JIT", "0");
    // A dozen threads (D-Bus, the keyring's, the network's, the serial executor) would each get
    // an allocator arena of their own, each keeping freed memory of its own resident. They
    // allocate little and seldom, so they share the main thread's.
    ::mallopt(M_ARENA_MAX, 1);
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QString::fromLatin1(AppInfo::identifier));
    QApplication::setApplicationName(QString::fromLatin1(AppInfo::identifier));
    QApplication::setApplicationDisplayName(QStringLiteral("维拉网络助手"));
    QApplication::setApplicationVersion(QString::fromLatin1(AppInfo::version));
    QApplication::setDesktopFileName(QString::fromLatin1(AppInfo::identifier));
    if (!installPlatformTranslations())
        QTextStream(stderr) << "Qt's Simplified Chinese translations are missing; its own texts stay English"
                            << Qt::endl;

    // A second start shows the running instance's window and leaves; it touches neither the
    // kernel nor the system proxy.
    SingleInstance instance;
    if (!instance.claim())
        return 0;

    try {
        AppPaths::prepare();
    } catch (const std::exception &error) {
        QTextStream(stderr) << "data folder unavailable: " << error.what() << Qt::endl;
        return 1;
    }
    Logger::shared().log(QStringLiteral("应用启动，版本 %1").arg(QApplication::applicationVersion()));

    theme::apply(application);
    VeyraNetworkAssistantApp app(makeCollaborators());
    QObject::connect(&instance, &SingleInstance::activationRequested, &app, &VeyraNetworkAssistantApp::showMainWindow);
    app.start();
    if (started)
        QTimer::singleShot(0, &app, [&app, started] { started(app); });
    return QApplication::exec();
}

} // namespace veyra::ui
