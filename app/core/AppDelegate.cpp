#include "AppDelegate.h"

#include "AppModel.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace veyra {

namespace {

int quitSignalPipe[2] = { -1, -1 };

void onQuitSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    // Only async-signal-safe work here; the event loop does the rest.
    [[maybe_unused]] ssize_t written = ::write(quitSignalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

AppDelegate::AppDelegate(AppModel *model, std::function<void()> leaveEventLoop, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_leaveEventLoop(std::move(leaveEventLoop))
{
}

void AppDelegate::defaultLeaveEventLoop()
{
    QCoreApplication::exit(0);
}

AppDelegate::~AppDelegate()
{
    if (m_signalNotifier) {
        for (int number : { SIGTERM, SIGINT, SIGHUP })
            std::signal(number, SIG_DFL);
    }
}

void AppDelegate::watchQuitRequests()
{
    if (auto *gui = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        // The application lives on in the tray when its window closes.
        gui->setQuitOnLastWindowClosed(false);
        connect(gui, &QGuiApplication::commitDataRequest, this, [this](QSessionManager &) { requestQuit(); });
    }
    if (m_signalNotifier)
        return;
    if (quitSignalPipe[0] < 0
        && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, quitSignalPipe) != 0)
        return;
    m_signalNotifier = new QSocketNotifier(quitSignalPipe[0], QSocketNotifier::Read, this);
    connect(m_signalNotifier, &QSocketNotifier::activated, this, [this] {
        char bytes[64];
        while (::read(quitSignalPipe[0], bytes, sizeof bytes) > 0) { }
        requestQuit();
    });
    struct sigaction action { };
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : { SIGTERM, SIGINT, SIGHUP })
        ::sigaction(number, &action, nullptr);
}

AppDelegate::Reply AppDelegate::requestQuit()
{
    if (m_terminationPending)
        return Reply::terminateCancel;
    if (!m_model) {
        finishTermination();
        return Reply::terminateNow;
    }
    m_terminationPending = true;
    // Runs on by itself; the task object may go.
    runShutdown(m_model, QPointer<AppDelegate>(this));
    return Reply::terminateLater;
}

QCoro::Task<> AppDelegate::runShutdown(QPointer<AppModel> model, QPointer<AppDelegate> delegate)
{
    // The model's answer is true on every path: quitting is never refused.
    if (model)
        co_await model->shutdown();
    if (delegate)
        delegate->finishTermination();
}

void AppDelegate::finishTermination()
{
    m_terminationPending = false;
    if (m_leaveEventLoop)
        m_leaveEventLoop();
    emit terminated();
}

} // namespace veyra
