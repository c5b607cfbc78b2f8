// What the helper finds wrong with a process that runs the right executable.
#include "PeerConnection.h"
#include "PeerIntegrity.h"
#include "ProcFile.h"
#include "ToolRunner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <string>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using veyra::helper::peerIntegrityProblem;

namespace {

// A child that prepares itself with `setup`, then waits to be looked at; killed and reaped
// when the test is done with it.
class Subject {
public:
    template <typename Setup> explicit Subject(Setup setup)
    {
        int ready[2];
        if (::pipe(ready) != 0)
            throw std::runtime_error("pipe");
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(ready[0]);
            setup(ready[1]);
            ::_exit(0);
        }
        ::close(ready[1]);
        char byte = 0;
        // Set-ups that exec signal readiness by closing the pipe (close-on-exec); others write.
        [[maybe_unused]] ssize_t n = ::read(ready[0], &byte, 1);
        ::close(ready[0]);
    }
    ~Subject()
    {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
};

void runSleep(int ready, const char *preload)
{
    ::fcntl(ready, F_SETFD, FD_CLOEXEC);
    if (preload)
        ::setenv("LD_PRELOAD", preload, 1);
    ::unsetenv("LD_LIBRARY_PATH");
    ::execl("/bin/sleep", "sleep", "30", static_cast<char *>(nullptr));
}

void waitHere(int ready)
{
    [[maybe_unused]] ssize_t n = ::write(ready, "x", 1);
    ::pause();
}

} // namespace

TEST(PeerIntegrityIntegration, APlainProcessHasNothingWrong)
{
    Subject plain([](int ready) { runSleep(ready, nullptr); });
    EXPECT_EQ(peerIntegrityProblem(plain.pid()), std::nullopt);
}

TEST(PeerIntegrityIntegration, EachWayOfTakingOverAProgramIsFound)
{
    // A loader variable, even naming a protected system library.
    Subject preloaded([](int ready) { runSleep(ready, "/lib/x86_64-linux-gnu/libm.so.6"); });
    EXPECT_EQ(peerIntegrityProblem(preloaded.pid()), "its environment sets the loader variable LD_PRELOAD");

    // Traced from its first instruction.
    Subject traced([](int ready) {
        ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        runSleep(ready, nullptr);
    });
    const std::optional<std::string> tracing = peerIntegrityProblem(traced.pid());
    ASSERT_TRUE(tracing);
    EXPECT_NE(tracing->find("is traced by process"), std::string::npos) << *tracing;

    // Executable memory that no file backs.
    Subject anonymous([](int ready) {
        void *code = ::mmap(nullptr, 4096, PROT_READ | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (code == MAP_FAILED)
            ::_exit(1);
        waitHere(ready);
    });
    const std::optional<std::string> anonymousCode = peerIntegrityProblem(anonymous.pid());
    ASSERT_TRUE(anonymousCode);
    EXPECT_EQ(anonymousCode->rfind("it runs code without a file", 0), 0u) << *anonymousCode;

    // Code from a file anybody may change, as an injected library would be.
    char name[] = "/tmp/veyra-foreign-XXXXXX";
    const int file = ::mkstemp(name);
    ASSERT_GE(file, 0);
    ASSERT_EQ(::ftruncate(file, 4096), 0);
    ASSERT_EQ(::fchmod(file, 0666), 0);
    Subject foreign([file](int ready) {
        void *code = ::mmap(nullptr, 4096, PROT_READ | PROT_EXEC, MAP_PRIVATE, file, 0);
        if (code == MAP_FAILED)
            ::_exit(1);
        waitHere(ready);
    });
    const std::optional<std::string> foreignCode = peerIntegrityProblem(foreign.pid());
    ::close(file);
    ::unlink(name);
    ASSERT_TRUE(foreignCode);
    EXPECT_EQ(foreignCode->rfind("it runs code from a file others can change: ", 0), 0u) << *foreignCode;

    // A process that is gone has nothing to inspect, which is a refusal too.
    EXPECT_TRUE(peerIntegrityProblem(999'999'999));
}

// What is done to one thread other than the first counts as much: a tracer holding it, or a
// system-call filter installed in it alone.
TEST(PeerIntegrityIntegration, EveryThreadIsLookedAt)
{
    const auto withSecondThread = [](bool filtered) {
        return Subject([filtered](int ready) {
            std::thread([ready, filtered] {
                if (filtered) {
                    struct sock_filter allow[] = { BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW) };
                    struct sock_fprog program = { 1, allow };
                    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0
                        || ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
                        ::_exit(1);
                }
                waitHere(ready);
            }).join();
        });
    };
    const auto secondThread = [](pid_t pid) {
        for (const auto &entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task"))
            if (entry.path().filename() != std::to_string(pid))
                return static_cast<pid_t>(std::stoi(entry.path().filename()));
        return pid_t(0);
    };
    Subject filtered = withSecondThread(true);
    const std::optional<std::string> filter = peerIntegrityProblem(filtered.pid());
    ASSERT_TRUE(filter);
    EXPECT_NE(filter->find("system-call filter"), std::string::npos) << *filter;

    Subject traced = withSecondThread(false);
    const pid_t thread = secondThread(traced.pid());
    ASSERT_GT(thread, 0);
    ASSERT_EQ(::ptrace(PTRACE_SEIZE, thread, nullptr, nullptr), 0) << std::strerror(errno);
    const std::optional<std::string> tracing = peerIntegrityProblem(traced.pid());
    // The traced thread's end is told to its tracer, which must collect it for the process to go.
    ::kill(traced.pid(), SIGKILL);
    ::waitpid(thread, nullptr, __WALL);
    ASSERT_TRUE(tracing);
    EXPECT_NE(tracing->find("is traced by process"), std::string::npos) << *tracing;
}

// The helper reads a peer's files while other threads start its tool: none of those reads may
// leave a descriptor the tool would inherit. A FIFO holds the read open long enough to look.
TEST(ProcFile, ReadsThroughACloseOnExecDescriptor)
{
    char folder[] = "/tmp/veyra-procfile-XXXXXX";
    ASSERT_TRUE(::mkdtemp(folder));
    const std::string fifo = std::string(folder) + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::optional<std::string> text;
    std::thread reader([&] { text = veyra::helper::readWholeFile(fifo); });
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC); // returns once the reader has it open
    ASSERT_GE(writer, 0);
    bool found = false;
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) != fifo || entry.path().filename() == std::to_string(writer))
            continue;
        found = true;
        const int flags = ::fcntl(std::stoi(entry.path().filename()), F_GETFD);
        EXPECT_TRUE(flags & FD_CLOEXEC) << "descriptor " << entry.path().filename();
    }
    EXPECT_TRUE(found);
    ASSERT_EQ(::write(writer, "x", 1), 1);
    ::close(writer);
    reader.join();
    EXPECT_EQ(text, "x");
    ::unlink(fifo.c_str());
    ::rmdir(folder);
}

// A connection whose other end is held by a process that ran another program when it
// connected: its descriptor survived an exec, so it cannot be close-on-exec.
TEST(PeerConnectionIntegration, AnEndCarriedAcrossAnExecIsNotThePeersOwn)
{
    char folder[] = "/tmp/veyra-peer-XXXXXX";
    ASSERT_TRUE(::mkdtemp(folder));
    const std::string path = std::string(folder) + "/s.sock";
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un address { };
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);

    const auto connectedChild = [&](bool closeOnExec, bool exec) {
        return Subject([&, closeOnExec, exec](int ready) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | (closeOnExec ? SOCK_CLOEXEC : 0), 0);
            if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
                ::_exit(1);
            if (exec)
                runSleep(ready, nullptr);
            waitHere(ready);
        });
    };
    {
        Subject own = connectedChild(true, false);
        const int accepted = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        ASSERT_GE(accepted, 0);
        EXPECT_TRUE(veyra::helper::peerSocketInode(accepted));
        EXPECT_EQ(veyra::helper::connectionOwnershipProblem(own.pid(), accepted), std::nullopt);
        // Somebody else's process does not hold this connection at all.
        EXPECT_EQ(veyra::helper::connectionOwnershipProblem(::getpid(), accepted),
            "it does not hold its end of the connection");
        ::close(accepted);
    }
    {
        Subject carried = connectedChild(false, true);
        const int accepted = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        ASSERT_GE(accepted, 0);
        EXPECT_EQ(veyra::helper::connectionOwnershipProblem(carried.pid(), accepted),
            "its end of the connection was made before the program it runs now started");
        ::close(accepted);
    }
    ::close(listener);
    ::unlink(path.c_str());
    ::rmdir(folder);
}

// The application stops being dumpable before any library's initialiser runs, so not even a
// library preloaded into it finds it open.
TEST(NonDumpableAtStartIntegration, NoLibraryInitialiserFindsTheProcessDumpable)
{
    const veyra::helper::ToolOutcome probe
        = veyra::helper::runTool(VEYRA_NONDUMPABLE_PROBE, {}, { "LD_PRELOAD=" VEYRA_REPORT_DUMPABLE });
    EXPECT_EQ(probe.exitStatus, 0) << probe.standardError;
}
