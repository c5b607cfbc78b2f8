#include "DesktopSession.h"

#include <QDir>
#include <QProcess>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <stdexcept>

namespace veyra::test {

namespace {

void setVariable(const char *name, const QString &value)
{
    ::setenv(name, QFile::encodeName(value).constData(), 1);
}

} // namespace

DesktopSession &DesktopSession::shared()
{
    // Ended only at exit, after every GIO and QtDBus user.
    static DesktopSession session;
    return session;
}

DesktopSession::DesktopSession()
{
    if (!m_dir.isValid())
        throw std::runtime_error("no temporary folder for the desktop session");
    const QString root = m_dir.path();
    for (const char *folder : { "home", "config", "cache", "data", "runtime" })
        QDir(root).mkpath(QString::fromLatin1(folder));
    QFile::setPermissions(root + QStringLiteral("/runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    setVariable("HOME", root + QStringLiteral("/home"));
    setVariable("XDG_CONFIG_HOME", root + QStringLiteral("/config"));
    setVariable("XDG_CACHE_HOME", root + QStringLiteral("/cache"));
    setVariable("XDG_DATA_HOME", root + QStringLiteral("/data"));
    setVariable("XDG_RUNTIME_DIR", root + QStringLiteral("/runtime"));
    ::setenv("GSETTINGS_BACKEND", "dconf", 1);
    // Which desktop this is, and which settings it keeps, is for each test to say.
    ::unsetenv("XDG_CURRENT_DESKTOP");
    ::unsetenv("DCONF_PROFILE");
    ::unsetenv("GSETTINGS_SCHEMA_DIR");

    // The bus forks into the background and prints its address and process id; it inherits
    // the environment above and hands it on to the dconf-service it activates.
    const QByteArray started = run(QStringLiteral("dbus-daemon"),
        { QStringLiteral("--session"), QStringLiteral("--fork"), QStringLiteral("--print-address=1"),
            QStringLiteral("--print-pid=1"), QStringLiteral("--address=unix:path=") + root + QStringLiteral("/bus") });
    const QList<QByteArray> lines = started.trimmed().split('\n');
    if (lines.size() != 2)
        throw std::runtime_error("dbus-daemon did not say where it listens: " + started.toStdString());
    ::setenv("DBUS_SESSION_BUS_ADDRESS", lines[0].trimmed().constData(), 1);
    m_busPid = lines[1].trimmed().toLongLong();
}

DesktopSession::~DesktopSession()
{
    // dconf-service leaves with its bus.
    if (m_busPid > 0)
        ::kill(static_cast<pid_t>(m_busPid), SIGTERM);
}

QString DesktopSession::configFolder() const
{
    return m_dir.path() + QStringLiteral("/config");
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

QByteArray DesktopSession::dconfDump() const
{
    return run(QStringLiteral("dconf"), { QStringLiteral("dump"), QStringLiteral("/") });
}

void DesktopSession::dconfLoad(const QByteArray &keyFile) const
{
    run(QStringLiteral("dconf"), { QStringLiteral("load"), QStringLiteral("/") }, keyFile);
}

void DesktopSession::dconfReset() const
{
    run(QStringLiteral("dconf"), { QStringLiteral("reset"), QStringLiteral("-f"), QStringLiteral("/") });
}

QString DesktopSession::kdeProxySetting(const QString &key) const
{
    return QString::fromUtf8(run(QStringLiteral("kreadconfig5"),
        { QStringLiteral("--file"), QStringLiteral("kioslaverc"), QStringLiteral("--group"),
            QStringLiteral("Proxy Settings"), QStringLiteral("--key"), key })
                                 .trimmed());
}

} // namespace veyra::test
