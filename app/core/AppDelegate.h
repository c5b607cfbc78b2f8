#pragma once

#include <QCoroTask>
#include <QObject>
#include <QPointer>

#include <functional>

class QSocketNotifier;

namespace veyra {

class AppModel;

// Receives every request to quit (menu and tray items, Ctrl+Q, the session manager, SIGTERM,
// SIGINT, SIGHUP), runs the model's shutdown once and only then leaves the event loop. A
// request that arrives while the shutdown runs is ignored; the first one still ends the process.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    enum class Reply { terminateNow, terminateCancel, terminateLater };
    Q_ENUM(Reply)

    // `leaveEventLoop` ends the application once the shutdown is over; tests that run the
    // delegate inside their own process give it something gentler.
    explicit AppDelegate(
        AppModel *model, std::function<void()> leaveEventLoop = defaultLeaveEventLoop, QObject *parent = nullptr);
    static void defaultLeaveEventLoop();
    ~AppDelegate() override;

    // Routes SIGTERM, SIGINT and SIGHUP to requestQuit() through a self-pipe (the handler only
    // writes a byte; everything else happens on the event loop), and the session manager's end
    // of session too. Also stops the last closed window from quitting the application.
    void watchQuitRequests();

    // One quit request. Later: the shutdown has started and the event loop ends when it is done.
    Reply requestQuit();
    bool terminationPending() const { return m_terminationPending; }

signals:
    // The shutdown is over and the event loop is being left.
    void terminated();

private:
    static QCoro::Task<> runShutdown(QPointer<AppModel> model, QPointer<AppDelegate> delegate);
    void finishTermination();

    QPointer<AppModel> m_model;
    std::function<void()> m_leaveEventLoop;
    bool m_terminationPending = false;
    QSocketNotifier *m_signalNotifier = nullptr;
};

} // namespace veyra
