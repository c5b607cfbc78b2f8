#include "AppInfo.h"
#include "AppPaths.h"
#include "Logger.h"
#include "SingleInstance.h"
#include "Theme.h"
#include "VeyraNetworkAssistantApp.h"

#include <QApplication>
#include <QTextStream>

#include <sys/prctl.h>

int main(int argc, char *argv[])
{
    // Before anything else: no other process of this user may attach to this one (ptrace,
    // /proc/<pid>/mem) and speak to the root helper in its name.
    ::prctl(PR_SET_DUMPABLE, 0);
    // No code is ever generated at run time: the helper serves only a process whose every
    // executable page comes from a root-protected file, and the regular-expression JIT would
    // make writable, executable anonymous memory.
    qputenv("QT_ENABLE_REGEXP_JIT", "0");
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QString::fromLatin1(veyra::AppInfo::identifier));
    QApplication::setApplicationName(QString::fromLatin1(veyra::AppInfo::identifier));
    QApplication::setApplicationDisplayName(QStringLiteral("维拉网络助手"));
    QApplication::setApplicationVersion(QString::fromLatin1(veyra::AppInfo::version));
    QApplication::setDesktopFileName(QString::fromLatin1(veyra::AppInfo::identifier));

    // A second start shows the running instance's window and leaves; it touches neither the
    // kernel nor the system proxy.
    veyra::ui::SingleInstance instance;
    if (!instance.claim())
        return 0;

    try {
        veyra::AppPaths::prepare();
    } catch (const std::exception &error) {
        QTextStream(stderr) << "data folder unavailable: " << error.what() << Qt::endl;
        return 1;
    }
    veyra::Logger::shared().log(QStringLiteral("应用启动，版本 %1").arg(QApplication::applicationVersion()));

    veyra::ui::theme::apply(application);
    veyra::ui::VeyraNetworkAssistantApp app;
    QObject::connect(&instance, &veyra::ui::SingleInstance::activationRequested, &app,
        &veyra::ui::VeyraNetworkAssistantApp::showMainWindow);
    app.start();
    return QApplication::exec();
}
