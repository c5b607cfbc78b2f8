// GLib headers use "signals" as an identifier, so libsecret comes before any Qt header.
#include <libsecret/secret.h>

#include "KeyringSession.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <csignal>
#include <gtest/gtest.h>
#include <sys/prctl.h>

namespace veyra::test {

namespace {

constexpr const char *password = "test-keyring-password";

const SecretSchema *rawSchema()
{
    static const SecretSchema *schema = secret_schema_new("veyra.test.raw", SECRET_SCHEMA_DONT_MATCH_NAME, "service",
        SECRET_SCHEMA_ATTRIBUTE_STRING, "account", SECRET_SCHEMA_ATTRIBUTE_STRING, nullptr);
    return schema;
}

SecretCollection *defaultCollection(SecretService **service)
{
    *service = secret_service_open_sync(SECRET_TYPE_SERVICE, nullptr, SECRET_SERVICE_OPEN_SESSION, nullptr, nullptr);
    if (!*service)
        return nullptr;
    return secret_collection_for_alias_sync(
        *service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, nullptr);
}

// GDBus keeps one session-bus connection per process, so the bus lives as long as the process
// and only the keyring daemon comes and goes with each test. The bus is our child and is killed
// by the kernel when this process ends, however it ends.
struct PrivateBus {
    QTemporaryDir dir;
    QProcess *process = nullptr; // deliberately never deleted: it must outlive every test
    QByteArray address;
    QString problem;

    PrivateBus()
    {
        QFile file(dir.filePath("session.conf"));
        if (!dir.isValid() || !file.open(QIODevice::WriteOnly)) {
            problem = QStringLiteral("cannot write the bus configuration");
            return;
        }
        file.write("<busconfig><type>session</type><listen>unix:dir=" + QFile::encodeName(dir.path())
            + "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" "
              "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
        file.close();
        process = new QProcess;
        process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        process->start("dbus-daemon", { "--config-file=" + file.fileName(), "--print-address=1", "--nofork" });
        for (int i = 0; i < 40 && !address.contains('\n'); ++i) {
            process->waitForReadyRead(250);
            address += process->readAllStandardOutput();
        }
        address = address.trimmed();
        if (address.isEmpty())
            problem = process->errorString() + u' ' + QString::fromLocal8Bit(process->readAllStandardError()).trimmed();
        else
            qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    }
};

PrivateBus &privateBus()
{
    static PrivateBus bus;
    return bus;
}

} // namespace

QByteArray privateSessionBus()
{
    return privateBus().address;
}

KeyringSession::KeyringSession()
    : m_busAddress(privateBus().address)
{
    if (!m_home.isValid())
        m_failure = QStringLiteral("no temporary home: ") + m_home.errorString();
    else if (m_busAddress.isEmpty())
        m_failure = QStringLiteral("dbus-daemon gave no address within 10 s: ") + privateBus().problem;
    else
        startDaemon();
    if (!m_failure.isEmpty())
        ADD_FAILURE() << "could not start a private keyring: " << m_failure.toStdString();
}

bool KeyringSession::startDaemon()
{
    QDir(m_home.path()).mkpath("run");
    QFile::setPermissions(m_home.filePath("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto &[name, value] :
        { std::pair<QString, QString> { "DBUS_SESSION_BUS_ADDRESS", m_busAddress }, { "HOME", m_home.path() },
            { "XDG_DATA_HOME", m_home.filePath("data") }, { "XDG_RUNTIME_DIR", m_home.filePath("run") } })
        environment.insert(name, value);
    environment.remove("DISPLAY");
    m_daemon.setProcessEnvironment(environment);
    m_daemon.setProcessChannelMode(QProcess::MergedChannels);
    m_daemon.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    m_daemon.start("gnome-keyring-daemon", { "--foreground", "--unlock", "--components=secrets" });
    if (!m_daemon.waitForStarted(10'000)) {
        m_failure = QStringLiteral("gnome-keyring-daemon did not start: ") + m_daemon.errorString();
        return false;
    }
    m_daemon.write(password);
    m_daemon.waitForBytesWritten(5'000); // no event loop runs here to flush it
    m_daemon.closeWriteChannel();
    // Ready once the default collection answers on the bus.
    QElapsedTimer clock;
    clock.start();
    // waitForFinished(0) lets QProcess notice a daemon that has already died.
    while (clock.elapsed() < 10'000 && !m_daemon.waitForFinished(0) && m_daemon.state() == QProcess::Running) {
        SecretService *service = nullptr;
        SecretCollection *collection = defaultCollection(&service);
        const bool ready = collection && !secret_collection_get_locked(collection);
        g_clear_object(&collection);
        g_clear_object(&service);
        if (ready) {
            m_ready = true;
            return true;
        }
        QThread::msleep(50);
    }
    m_failure = QStringLiteral("the keyring's default collection did not come up within 10 s (daemon %1): %2")
                    .arg(m_daemon.state() == QProcess::Running ? QStringLiteral("running") : QStringLiteral("gone"),
                        QString::fromLocal8Bit(m_daemon.readAll()).trimmed());
    return false;
}

void KeyringSession::stopDaemon()
{
    m_ready = false;
    // libsecret's shared connection (used by the raw helpers here) would keep talking to the
    // daemon that is about to go.
    secret_service_disconnect();
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(5'000)) {
            m_daemon.kill();
            m_daemon.waitForFinished(5'000);
        }
    }
}

bool KeyringSession::lockDefaultCollection()
{
    SecretService *service = nullptr;
    SecretCollection *collection = defaultCollection(&service);
    GList *objects = g_list_append(nullptr, collection);
    const bool done = collection && secret_service_lock_sync(service, objects, nullptr, nullptr, nullptr) == 1;
    g_list_free(objects);
    g_clear_object(&collection);
    g_clear_object(&service);
    return done;
}

bool KeyringSession::unlockDefaultCollection()
{
    // The daemon unlocks "login" with the password on stdin when it starts, just as a desktop
    // session does at sign-in; restarting it on the same keyring files is the prompt-free way.
    stopDaemon();
    return startDaemon();
}

std::optional<QByteArray> KeyringSession::lookup(const QString &service, const QString &account)
{
    SecretValue *value = secret_password_lookup_binary_sync(rawSchema(), nullptr, nullptr, "service",
        service.toUtf8().constData(), "account", account.toUtf8().constData(), nullptr);
    if (!value)
        return std::nullopt;
    gsize length = 0;
    const gchar *bytes = secret_value_get(value, &length);
    const QByteArray copy(bytes, qsizetype(length));
    secret_value_unref(value);
    return copy;
}

bool KeyringSession::storeRaw(const QString &service, const QString &account, const QByteArray &secret)
{
    SecretValue *value = secret_value_new(secret.constData(), secret.size(), "application/octet-stream");
    const bool stored = secret_password_store_binary_sync(rawSchema(), SECRET_COLLECTION_DEFAULT, "raw", value, nullptr,
        nullptr, "service", service.toUtf8().constData(), "account", account.toUtf8().constData(), nullptr);
    secret_value_unref(value);
    return stored;
}

} // namespace veyra::test
