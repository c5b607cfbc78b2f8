#include "DesktopSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

// GLib has struct members named "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")

namespace veyra::test {

DesktopSession *DesktopSession::s_shared = nullptr;

DesktopSession &DesktopSession::shared()
{
    if (!s_shared) {
        s_shared = new DesktopSession;
        // Ended with the application object, after every test and while Qt can still wait
        // for the bus to leave.
        qAddPostRoutine([] {
            delete s_shared;
            s_shared = nullptr;
        });
    }
    return *s_shared;
}

DesktopSession::DesktopSession()
{
    if (!m_dir.isValid())
        throw std::runtime_error("no temporary folder for the desktop session");
    const QString root = m_dir.path();
    for (const auto &[name, folder] : { std::pair { "HOME", "/home" }, { "XDG_CONFIG_HOME", "/config" },
             { "XDG_CACHE_HOME", "/cache" }, { "XDG_DATA_HOME", "/data" }, { "XDG_RUNTIME_DIR", "/runtime" } }) {
        QDir().mkpath(root + QLatin1String(folder));
        ::setenv(name, QFile::encodeName(root + QLatin1String(folder)).constData(), 1);
    }
    QFile::setPermissions(root + QStringLiteral("/runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ::setenv("GSETTINGS_BACKEND", "dconf", 1);
    // Which desktop this is, and which settings it keeps, is for each test to say.
    ::unsetenv("XDG_CURRENT_DESKTOP");
    ::unsetenv("DCONF_PROFILE");
    ::unsetenv("GSETTINGS_SCHEMA_DIR");

    // The bus inherits the environment above and hands it on to the dconf-service it
    // activates. It prints its address once it listens.
    m_bus.start(
        "dbus-daemon", { "--session", "--nofork", "--print-address=1", "--address=unix:path=" + root + "/bus" });
    while (!m_bus.canReadLine())
        if (!m_bus.waitForReadyRead(10'000))
            throw std::runtime_error("dbus-daemon did not say where it listens: " + m_bus.errorString().toStdString());
    ::setenv("DBUS_SESSION_BUS_ADDRESS", m_bus.readLine().trimmed().constData(), 1);
}

DesktopSession::~DesktopSession()
{
    // GIO ends the whole process when the session bus goes away under one of its connections;
    // here that is expected.
    if (GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
        g_dbus_connection_set_exit_on_close(bus, FALSE);
        g_object_unref(bus);
    }
    // dconf-service leaves with its bus.
    m_bus.terminate();
    m_bus.waitForFinished(10'000);
}

QByteArray DesktopSession::run(const QString &program, const QStringList &arguments, const QByteArray &input) const
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(10'000))
        throw std::runtime_error(program.toStdString() + " did not start: " + process.errorString().toStdString());
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(30'000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw std::runtime_error(program.toStdString() + " " + arguments.join(u' ').toStdString()
            + " failed: " + process.readAllStandardError().toStdString());
    return process.readAllStandardOutput();
}

} // namespace veyra::test
