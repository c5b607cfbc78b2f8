#include "SingleInstance.h"

#include "AppPaths.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

namespace veyra::ui {

namespace {

    constexpr QByteArrayView showRequest = "show\n";
    constexpr int answerLimitMs = 1500;

    // A real folder (not a link) of this user that no one else may write into.
    bool isPrivateFolder(const QString &path)
    {
        struct stat info { };
        return !path.isEmpty() && ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode)
            && info.st_uid == ::getuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
    }

} // namespace

QString SingleInstance::defaultPath()
{
    // Whoever holds the socket first is asked to show itself by every later start, which then
    // leaves: another user able to create it first could keep the application from ever starting.
    QString folder = QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR"));
    if (!isPrivateFolder(folder)) {
        folder = AppPaths::appSupport();
        QDir().mkpath(folder);
        if (!isPrivateFolder(folder))
            return {};
    }
    return folder + QStringLiteral("/veyra-network-assistant.sock");
}

SingleInstance::SingleInstance(QString path, QObject *parent)
    : QObject(parent)
    , m_path(std::move(path))
{
}

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close();
}

bool SingleInstance::askRunningInstance()
{
    QLocalSocket socket;
    socket.connectToServer(m_path);
    if (!socket.waitForConnected(answerLimitMs))
        return false;
    socket.write(showRequest.data(), showRequest.size());
    if (!socket.waitForBytesWritten(answerLimitMs))
        return false;
    // The running instance closes the connection once it has read the request.
    socket.waitForDisconnected(answerLimitMs);
    return true;
}

bool SingleInstance::claim()
{
    if (m_path.isEmpty()) {
        qWarning("single-instance socket unavailable: no folder of this user's own to hold it");
        return true;
    }
    // Two starts at the same moment: the lock makes one of them wait for the other's listener.
    m_lock = std::make_unique<QLockFile>(m_path + QStringLiteral(".lock"));
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(answerLimitMs * 2))
        return !askRunningInstance();
    if (askRunningInstance()) {
        m_lock->unlock();
        return false;
    }
    // Nobody answers: whatever is left at the path is from a process that is gone.
    QLocalServer::removeServer(m_path);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_path)) {
        qWarning("single-instance socket unavailable: %s", qPrintable(m_server->errorString()));
        m_lock->unlock();
        return true;
    }
    m_lock->unlock();
    QObject::connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *peer = m_server->nextPendingConnection()) {
            QObject::connect(peer, &QLocalSocket::readyRead, peer, [this, peer] {
                if (peer->readAll().contains("show"))
                    emit activationRequested();
                peer->disconnectFromServer();
            });
            QObject::connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        }
    });
    return true;
}

} // namespace veyra::ui
