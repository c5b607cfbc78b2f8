#include "AppInfo.h"
#include "AppPaths.h"
#include "Logger.h"

#include <QCoreApplication>
#include <QTextStream>

#include <sys/prctl.h>

// The window, the menu-bar menu and the workflows are not assembled yet; for now the
// program prepares its data folder, writes one diagnostic line and says what it did.
int main(int argc, char *argv[])
{
    // Before anything else: no other process of this user may attach to this one (ptrace,
    // /proc/<pid>/mem) and speak to the root helper in its name.
    ::prctl(PR_SET_DUMPABLE, 0);
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QString::fromLatin1(veyra::AppInfo::identifier));
    QCoreApplication::setApplicationName(QString::fromLatin1(veyra::AppInfo::identifier));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(veyra::AppInfo::version));

    QTextStream out(stdout);
    try {
        veyra::AppPaths::prepare();
    } catch (const std::exception &error) {
        out << "data folder unavailable: " << error.what() << Qt::endl;
        return 1;
    }
    veyra::Logger::shared().log(QStringLiteral("应用启动，版本 %1").arg(QCoreApplication::applicationVersion()));
    out << "Veyra Network Assistant " << QCoreApplication::applicationVersion() << Qt::endl
        << "data folder: " << veyra::AppPaths::appSupport() << Qt::endl
        << "diagnostic log: " << veyra::AppPaths::logs() << Qt::endl;
    return 0;
}
