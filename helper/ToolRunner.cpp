#include "ToolRunner.h"

#include "ProcFile.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace veyra::helper {

namespace {

class Pipe {
public:
    Pipe()
    {
        if (::pipe2(m_fds, O_CLOEXEC) != 0)
            throw ToolLaunchError(std::string("pipe: ") + std::strerror(errno));
    }
    ~Pipe()
    {
        closeRead();
        closeWrite();
    }
    Pipe(const Pipe &) = delete;
    Pipe &operator=(const Pipe &) = delete;

    int readEnd() const { return m_fds[0]; }
    int writeEnd() const { return m_fds[1]; }
    void closeRead() { closeFd(m_fds[0]); }
    void closeWrite() { closeFd(m_fds[1]); }

private:
    static void closeFd(int &fd)
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    int m_fds[2] = { -1, -1 };
};

// The highest capability number the kernel knows; read before forking, since the child may
// only make system calls.
int lastCapability()
{
    const std::optional<std::string> text = readWholeFile("/proc/sys/kernel/cap_last_cap");
    try {
        return text ? std::stoi(*text) : 63;
    } catch (...) {
        return 63;
    }
}

// In the child, before exec: the tool runs as root but holds no capability, and cannot regain
// one by exec (no new privileges, nothing permitted to intersect with). The helper keeps what it
// needs to look into its peers; a tool run with those could read every process of the machine.
// The bounding set can only be emptied with CAP_SETPCAP, which the service unit leaves the helper
// for that; without it the rest still keeps the tool from every capability.
bool dropCapabilities(int last)
{
    for (int capability = 0; capability <= last; ++capability)
        ::prctl(PR_CAPBSET_DROP, capability, 0, 0, 0);
    __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
    __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
    return ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) == 0
        && ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && ::syscall(SYS_capset, &header, none) == 0;
}

// Starts `program` in a process group of its own, with standard input from /dev/null and the
// two pipes as its output streams. Throws ToolLaunchError when it cannot be run.
pid_t startTool(const std::string &program, char *const argv[], char *const envp[], Pipe &out, Pipe &err,
    ToolCapabilities capabilities)
{
    const int last = lastCapability();
    Pipe failure; // carries the errno of a failed exec; closed by a successful one
    const pid_t child = ::fork();
    if (child < 0)
        throw ToolLaunchError(std::string("fork: ") + std::strerror(errno));
    if (child == 0) {
        // System calls only from here: other threads of the helper may have held locks at the fork.
        int error = 0;
        const int input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (::setpgid(0, 0) != 0 || input < 0 || ::dup2(input, STDIN_FILENO) < 0
            || ::dup2(out.writeEnd(), STDOUT_FILENO) < 0 || ::dup2(err.writeEnd(), STDERR_FILENO) < 0
            || (capabilities == ToolCapabilities::none && !dropCapabilities(last)))
            error = errno ? errno : EPERM;
        else
            ::execve(program.c_str(), argv, envp);
        if (!error)
            error = errno;
        [[maybe_unused]] ssize_t n = ::write(failure.writeEnd(), &error, sizeof error);
        ::_exit(127);
    }
    failure.closeWrite();
    int error = 0;
    ssize_t n = 0;
    while ((n = ::read(failure.readEnd(), &error, sizeof error)) < 0 && errno == EINTR) { }
    if (n == static_cast<ssize_t>(sizeof error)) {
        while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) { }
        throw ToolLaunchError(program + ": " + std::strerror(error));
    }
    return child;
}

// Reads both streams until both are closed; false when the deadline came first.
bool drain(
    Pipe &out, Pipe &err, ToolOutcome &outcome, std::size_t keptBytes, std::chrono::steady_clock::time_point deadline)
{
    struct pollfd fds[2] = { { out.readEnd(), POLLIN, 0 }, { err.readEnd(), POLLIN, 0 } };
    std::string *targets[2] = { &outcome.standardOutput, &outcome.standardError };
    int open = 2;
    char buffer[8192];
    while (open > 0) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        const int ready = ::poll(fds, 2, static_cast<int>(std::min<long long>(left.count(), 60'000)));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n <= 0) {
                fds[i].fd = -1;
                --open;
                continue;
            }
            std::string &target = *targets[i];
            if (target.size() < keptBytes)
                target.append(buffer, std::min<std::size_t>(static_cast<std::size_t>(n), keptBytes - target.size()));
        }
    }
    return true;
}

// The child's process descriptor, readable once it has exited; -1 where there is none (an
// older kernel, a system call filter).
class ExitSignal {
public:
    explicit ExitSignal(pid_t child)
        : m_fd(static_cast<int>(::syscall(SYS_pidfd_open, child, 0)))
    {
    }
    ~ExitSignal()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    ExitSignal(const ExitSignal &) = delete;
    ExitSignal &operator=(const ExitSignal &) = delete;

    void wait(std::chrono::milliseconds most) const
    {
        struct pollfd exited = { m_fd, POLLIN, 0 };
        if (m_fd < 0 || ::poll(&exited, 1, static_cast<int>(std::min<long long>(most.count(), 60'000))) < 0)
            ::usleep(2'000);
    }

private:
    int m_fd;
};

// Waits for the child's exit status; false when it is still running at the deadline. The
// streams usually close a moment before the exit can be collected, so the wait is woken by the
// exit itself; without a process descriptor it looks again every 2 ms, which adds up over the
// dozen tool runs of one request.
bool reap(pid_t child, int &status, std::chrono::steady_clock::time_point deadline)
{
    const ExitSignal exited(child);
    for (;;) {
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child)
            return true;
        if (done < 0 && errno != EINTR)
            throw ToolLaunchError(std::string("waitpid: ") + std::strerror(errno));
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        exited.wait(left);
    }
}

std::vector<char *> pointersTo(const std::vector<std::string> &strings)
{
    std::vector<char *> pointers;
    for (const std::string &text : strings)
        pointers.push_back(const_cast<char *>(text.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

std::vector<std::string> minimalToolEnvironment()
{
    return { "PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LANG=C.UTF-8" };
}

ToolOutcome runTool(const std::string &program, const std::vector<std::string> &arguments,
    const std::vector<std::string> &environment, std::size_t keptBytes, std::chrono::milliseconds timeLimit,
    ToolCapabilities capabilities)
{
    const auto deadline = std::chrono::steady_clock::now() + timeLimit;
    Pipe out;
    Pipe err;
    std::vector<std::string> commandLine = { program };
    commandLine.insert(commandLine.end(), arguments.begin(), arguments.end());
    std::vector<char *> argv = pointersTo(commandLine);
    std::vector<char *> envp = pointersTo(environment);
    // In a process group of its own, so a tool killed for hanging takes whatever it started
    // down with it.
    const pid_t child = startTool(program, argv.data(), envp.data(), out, err, capabilities);
    out.closeWrite();
    err.closeWrite();

    ToolOutcome outcome;
    int status = 0;
    // Both streams closed is not yet an exit: a tool may close them and go on running.
    if (!drain(out, err, outcome, keptBytes, deadline) || !reap(child, status, deadline)) {
        outcome.timedOut = true;
        ::kill(-child, SIGKILL);
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    }
    outcome.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return outcome;
}

std::string repairUtf8(const std::string &bytes)
{
    static const std::string replacement = "\xEF\xBF\xBD";
    std::string text;
    text.reserve(bytes.size());
    const auto *s = reinterpret_cast<const unsigned char *>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        unsigned char c = s[i];
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (c < 0x80) {
            text += static_cast<char>(c);
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0)
                low = 0xA0;
            if (c == 0xED)
                high = 0x9F; // no surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0)
                low = 0x90;
            if (c == 0xF4)
                high = 0x8F;
        }
        std::size_t valid = 0;
        if (length > 0) {
            valid = 1;
            while (valid < length && i + valid < n) {
                unsigned char next = s[i + valid];
                unsigned char lo = valid == 1 ? low : 0x80, hi = valid == 1 ? high : 0xBF;
                if (next < lo || next > hi)
                    break;
                ++valid;
            }
        }
        if (length > 0 && valid == length) {
            text.append(bytes, i, length);
            i += length;
        } else {
            // A maximal invalid prefix becomes one replacement character.
            text += replacement;
            i += valid > 0 ? valid : 1;
        }
    }
    return text;
}

std::string trimmed(const std::string &text)
{
    const char *space = " \t\r\n\v\f";
    std::size_t first = text.find_first_not_of(space);
    if (first == std::string::npos)
        return {};
    std::size_t last = text.find_last_not_of(space);
    return text.substr(first, last - first + 1);
}

} // namespace veyra::helper
