#pragma once

#include <QProcess>
#include <QTemporaryDir>

namespace veyra::test {

// A private desktop session for the rest of the test process: its own home and XDG folders,
// its own D-Bus session bus (dbus-daemon, which starts the real dconf-service on demand), and
// the installed GNOME schemas with the dconf settings backend. The test process's environment
// points at it, so GIO, QtDBus and QStandardPaths in the process, and every tool the test
// runs, all see this session and nothing of the machine's.
//
// It cannot be torn down between tests: GIO reads the environment and opens its bus
// connection once per process. Tests reset the settings instead.
class DesktopSession {
public:
    // Starts the session on first use; call it before anything uses GSettings or D-Bus.
    static DesktopSession &shared();

    QString configFolder() const { return m_dir.path() + QStringLiteral("/config"); }

    // Runs a tool of the session and returns its standard output; throws when the tool cannot
    // run or exits with an error.
    QByteArray run(const QString &program, const QStringList &arguments, const QByteArray &input = {}) const;

    // The whole user settings database as dconf prints it, and back.
    QByteArray dconfDump() const { return run("dconf", { "dump", "/" }); }
    void dconfLoad(const QByteArray &keyFile) const { run("dconf", { "load", "/" }, keyFile); }
    void dconfReset() const { run("dconf", { "reset", "-f", "/" }); }

    // What GNOME and KDE themselves read (gsettings, kreadconfig5 on the [Proxy Settings] group
    // of kioslaverc), and a change made the way the user's desktop makes it.
    QString gnomeSetting(const QString &schema, const QString &key) const
    {
        return QString::fromUtf8(run("gsettings", { "get", schema, key }).trimmed());
    }
    void setGnomeSetting(const QString &schema, const QString &key, const QString &value) const
    {
        run("gsettings", { "set", schema, key, value });
    }
    QString kdeProxySetting(const QString &key) const
    {
        return QString::fromUtf8(run("kreadconfig5", kioslavercEntry(key)).trimmed());
    }
    void setKdeProxySetting(const QString &key, const QString &value) const
    {
        run("kwriteconfig5", kioslavercEntry(key) << value);
    }

    DesktopSession(const DesktopSession &) = delete;
    DesktopSession &operator=(const DesktopSession &) = delete;

private:
    DesktopSession();
    ~DesktopSession();
    static QStringList kioslavercEntry(const QString &key)
    {
        return { "--file", "kioslaverc", "--group", "Proxy Settings", "--key", key };
    }

    static DesktopSession *s_shared;
    QTemporaryDir m_dir;
    QProcess m_bus;
};

} // namespace veyra::test
