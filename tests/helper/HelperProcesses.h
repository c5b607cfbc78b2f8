#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace veyra::helper::test {

namespace fs = std::filesystem;

// A daemon run by a test in a child process, told about like the service manager would: a
// listening socket passed as descriptor 3 with LISTEN_FDS, and a NOTIFY_SOCKET on which it
// says READY=1. Its standard error goes to a file, so a daemon that never starts (a tool
// missing, a namespace refused, a socket it cannot bind) is reported at once with its reason
// instead of leaving a client to wait. Killed and reaped on destruction.
class DaemonProcess {
public:
    // Forks; the child runs `body` and exits with its result. The test process must have no
    // other threads then, so the child may use everything.
    DaemonProcess(const fs::path &directory, std::function<int()> body, int passedSocket = -1);
    // Forks and executes `argv` (argv[0] is the program path).
    DaemonProcess(const fs::path &directory, std::vector<std::string> argv, int passedSocket = -1);
    ~DaemonProcess();
    DaemonProcess(const DaemonProcess &) = delete;
    DaemonProcess &operator=(const DaemonProcess &) = delete;

    // Empty once the daemon said READY=1 within `limit`; otherwise why it did not.
    std::string waitUntilReady(std::chrono::milliseconds limit = std::chrono::seconds(5));
    // The exit status (or 128 + signal) when it ends within `limit`.
    std::optional<int> waitForExit(std::chrono::milliseconds limit);
    std::string standardError() const;

private:
    void start(const std::function<int()> &body, int passedSocket);
    std::string describeExit(int status) const;

    fs::path m_errorFile;
    fs::path m_notifyPath;
    int m_notifySocket = -1;
    pid_t m_pid = -1;
    std::optional<int> m_status;
};

// A forked child that prepares itself with `setup`, given the write end of a pipe, and then
// waits to be looked at. The constructor returns once the child wrote to the pipe (ready()), or
// closed it by an exec (when the set-up made it close-on-exec) or by ending. Killed and reaped
// on destruction unless waited for.
class Child {
public:
    explicit Child(const std::function<void(int ready)> &setup);
    ~Child();
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;
    pid_t pid() const { return m_pid; }
    bool ready() const { return m_ready; }
    // Its exit status (or 128 + signal) once it ended.
    int wait();

private:
    pid_t m_pid = -1;
    bool m_ready = false;
    std::optional<int> m_status;
};

// A stream socket connected to `socket` (close-on-exec unless `inheritable`), or -1. A full
// listen backlog is waited for five seconds at most.
int connectTo(const fs::path &socket, bool inheritable = false);

// In a forked child: becomes `uid` (as group too, without supplementary groups) for good, or
// ends. Raw system calls only: the test process may have other threads.
void becomeUser(uid_t uid);


} // namespace veyra::helper::test
