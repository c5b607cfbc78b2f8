#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;

namespace veyra::ui {

// One running application per user session. The first process listens on a per-user local
// socket; a later one tells it to show its window and leaves before touching anything else.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // The socket's path: in the session's runtime folder, else in the application's data folder,
    // whichever is a folder of this user that nobody else can write (checked); empty when
    // neither is, and then every start runs on its own.
    static QString defaultPath();

    explicit SingleInstance(QString path = defaultPath(), QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when this process is now the only instance. False when another one answered (it has
    // been asked to show its window) or the socket could not be set up.
    bool claim();

signals:
    // A later start asked this instance to show its window.
    void activationRequested();

private:
    bool askRunningInstance();

    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
};

} // namespace veyra::ui
