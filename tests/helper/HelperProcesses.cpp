#include "HelperProcesses.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace veyra::helper::test {

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_un addressOf(const fs::path &path)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    return address;
}

int statusOf(int raw)
{
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

int millisecondsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Number of threads of the test process; forking is only safe at 1.
int threadCount()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Threads:", 0) == 0)
            return std::atoi(line.c_str() + 8);
    return -1;
}

} // namespace

DaemonProcess::DaemonProcess(const fs::path &directory, std::function<int()> body, int passedSocket)
    : m_errorFile(directory / "daemon.stderr")
    , m_notifyPath(directory / "notify.sock")
{
    start(body, passedSocket);
}

DaemonProcess::DaemonProcess(const fs::path &directory, std::vector<std::string> argv, int passedSocket)
    : m_errorFile(directory / "daemon.stderr")
    , m_notifyPath(directory / "notify.sock")
{
    start(
        [argv]() mutable {
            std::vector<char *> pointers;
            for (std::string &argument : argv)
                pointers.push_back(argument.data());
            pointers.push_back(nullptr);
            ::execv(pointers[0], pointers.data());
            std::fprintf(stderr, "cannot execute %s: %s\n", pointers[0], std::strerror(errno));
            return 127;
        },
        passedSocket);
}

void DaemonProcess::start(const std::function<int()> &body, int passedSocket)
{
    if (threadCount() != 1)
        throw std::logic_error("a daemon must be forked from a single-threaded test process");
    m_notifySocket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_un notify = addressOf(m_notifyPath);
    if (::bind(m_notifySocket, reinterpret_cast<const sockaddr *>(&notify), sizeof notify) != 0)
        throw std::runtime_error("cannot bind the notification socket");
    m_pid = ::fork();
    if (m_pid < 0)
        throw std::runtime_error("fork failed");
    if (m_pid > 0)
        return;
    // A test process killed by its time limit never runs this object's destructor: the daemon
    // goes with it instead of serving on for ever.
    const pid_t parent = ::getppid();
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(126);
    int error = ::open(m_errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (error >= 0)
        ::dup2(error, STDERR_FILENO);
    if (passedSocket >= 0) {
        // Not close-on-exec, as the service manager passes it. dup2 onto itself would keep the
        // flag, so a socket that already is descriptor 3 has it cleared instead.
        if (passedSocket == 3)
            ::fcntl(3, F_SETFD, 0);
        else
            ::dup2(passedSocket, 3);
        ::setenv("LISTEN_FDS", "1", 1);
        ::setenv("LISTEN_PID", std::to_string(::getpid()).c_str(), 1);
    }
    ::setenv("NOTIFY_SOCKET", m_notifyPath.c_str(), 1);
    std::fflush(nullptr);
    // Nothing may escape into this copy of the test runner: it would go on running tests.
    int status = 125;
    try {
        status = body();
    } catch (const std::exception &failure) {
        std::fprintf(stderr, "daemon start failed: %s\n", failure.what());
    } catch (...) {
        std::fprintf(stderr, "daemon start failed\n");
    }
    std::fflush(nullptr);
    ::_exit(status);
}

DaemonProcess::~DaemonProcess()
{
    if (m_pid > 0 && !m_status) {
        ::kill(m_pid, SIGTERM);
        if (!waitForExit(std::chrono::seconds(3))) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    if (m_notifySocket >= 0)
        ::close(m_notifySocket);
}

std::string DaemonProcess::waitUntilReady(std::chrono::milliseconds limit)
{
    const Clock::time_point deadline = Clock::now() + limit;
    for (;;) {
        if (m_status || waitForExit(std::chrono::milliseconds(0)))
            return describeExit(*m_status);
        struct pollfd wait = { m_notifySocket, POLLIN, 0 };
        // Look at the child at least every 50 ms: it may die without a word.
        if (::poll(&wait, 1, std::min(50, millisecondsUntil(deadline))) > 0) {
            char message[256] = {};
            const ssize_t n = ::recv(m_notifySocket, message, sizeof message - 1, 0);
            if (n > 0 && std::string_view(message, static_cast<std::size_t>(n)).find("READY=1") != std::string::npos)
                return {};
        }
        if (Clock::now() >= deadline)
            return "the daemon did not report ready within " + std::to_string(limit.count())
                + " ms; its standard error: " + standardError();
    }
}

std::optional<int> DaemonProcess::waitForExit(std::chrono::milliseconds limit)
{
    const Clock::time_point deadline = Clock::now() + limit;
    while (!m_status) {
        int raw = 0;
        const pid_t done = ::waitpid(m_pid, &raw, WNOHANG);
        if (done == m_pid)
            m_status = statusOf(raw);
        else if (Clock::now() >= deadline)
            break;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return m_status;
}

std::string DaemonProcess::standardError() const
{
    std::ifstream in(m_errorFile);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string DaemonProcess::describeExit(int status) const
{
    return "the daemon exited with status " + std::to_string(status)
        + " before it was ready; its standard error: " + standardError();
}

Child::Child(const std::function<void(int ready)> &setup)
{
    int ready[2];
    if (::pipe(ready) != 0)
        throw std::runtime_error("pipe failed");
    m_pid = ::fork();
    if (m_pid == 0) {
        ::close(ready[0]);
        setup(ready[1]);
        ::_exit(0);
    }
    ::close(ready[1]);
    char byte = 0;
    m_ready = m_pid > 0 && ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
}

Child::~Child()
{
    if (m_pid > 0 && !m_status) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

int Child::wait()
{
    int raw = 0;
    if (!m_status)
        m_status = ::waitpid(m_pid, &raw, 0) == m_pid ? statusOf(raw) : -1;
    return *m_status;
}

int connectTo(const fs::path &socket, bool inheritable)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | (inheritable ? 0 : SOCK_CLOEXEC), 0);
    const struct timeval limit = { 5, 0 };
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    const sockaddr_un address = addressOf(socket);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
        return fd;
    ::close(fd);
    return -1;
}

void becomeUser(uid_t uid)
{
    if (::syscall(SYS_setgroups, 0, nullptr) != 0 || ::syscall(SYS_setresgid, uid, uid, uid) != 0
        || ::syscall(SYS_setresuid, uid, uid, uid) != 0)
        ::_exit(126);
}

} // namespace veyra::helper::test
