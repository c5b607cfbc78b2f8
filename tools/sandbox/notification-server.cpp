// sandbox-notification-server: owns org.freedesktop.Notifications on the session bus named by
// DBUS_SESSION_BUS_ADDRESS and prints every notification as a JSON line. Prints "ready" (on
// standard error) once the name is owned; ends on SIGTERM or when the bus goes away.
#include "NotificationRecorder.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include <csignal>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    NotificationRecorder recorder(stdout);
    if (!bus.isConnected()
        || !bus.registerObject(
            QStringLiteral("/org/freedesktop/Notifications"), &recorder, QDBusConnection::ExportAllSlots)
        || !bus.registerService(QStringLiteral("org.freedesktop.Notifications"))) {
        std::fprintf(stderr, "sandbox-notification-server: cannot serve on the session bus: %s\n",
            qPrintable(bus.lastError().message()));
        return 1;
    }
    // Without a session bus there is nothing left to serve.
    QObject::connect(bus.interface(), &QDBusConnectionInterface::serviceUnregistered, &app, [&](const QString &name) {
        if (name == QStringLiteral("org.freedesktop.Notifications"))
            app.quit();
    });
    std::signal(SIGTERM, [](int) { std::_Exit(0); });
    std::fprintf(stderr, "ready\n");
    return app.exec();
}
