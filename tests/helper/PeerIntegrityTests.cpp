// What the helper finds wrong with a process that runs the right executable.
#include "HelperTestSupport.h"
#include "PeerConnection.h"
#include "PeerIntegrity.h"
#include "ProcFile.h"
#include "ProxyHelperServer.h"

#include <csignal>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace veyra::helper;
using namespace veyra::helper::test;

namespace {

void runSleep(int ready, const char *preload = nullptr)
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

void mapExecutable(int ready, int file)
{
    if (::mmap(nullptr, 4096, PROT_READ | PROT_EXEC, MAP_PRIVATE | (file < 0 ? MAP_ANONYMOUS : 0), file, 0)
        == MAP_FAILED)
        ::_exit(1);
    waitHere(ready);
}

// A second thread that installs a system-call filter in itself alone, or is only there.
void withSecondThread(int ready, bool filtered)
{
    std::thread([ready, filtered] {
        struct sock_filter allow[] = { BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW) };
        struct sock_fprog program = { 1, allow };
        if (filtered
            && (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0
                || ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0))
            ::_exit(1);
        waitHere(ready);
    }).join();
}

pid_t secondThreadOf(pid_t pid)
{
    for (const auto &entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task"))
        if (entry.path().filename() != std::to_string(pid))
            return static_cast<pid_t>(std::stoi(entry.path().filename()));
    return 0;
}

} // namespace

// Each way of taking a program over is found, in any of its threads, and named.
TEST(PeerIntegrityIntegration, EachWayOfTakingOverAProgramIsFound)
{
    TempDir dir;
    // Code from a file anybody may change, as an injected library would be.
    const fs::path writable = dir.path() / "foreign";
    writeFile(writable, std::string(4096, '\0'));
    fs::permissions(writable, fs::perms(0666));
    const int foreign = ::open(writable.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(foreign, 0);
    const struct {
        const char *name;
        std::function<void(int)> setup;
        const char *problem; // a part of the text; empty: none
        bool traceSecondThread = false;
    } cases[] = {
        { "a plain process", [](int ready) { runSleep(ready); }, "" },
        { "a loader variable naming a system library",
            [](int ready) { runSleep(ready, "/lib/x86_64-linux-gnu/libm.so.6"); },
            "its environment sets the loader variable LD_PRELOAD" },
        { "traced from its first instruction",
            [](int ready) {
                ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
                runSleep(ready);
            },
            "is traced by process" },
        { "executable memory no file backs", [](int ready) { mapExecutable(ready, -1); },
            "it runs code without a file" },
        { "code from a file others can change", [foreign](int ready) { mapExecutable(ready, foreign); },
            "it runs code from a file others can change: " },
        { "a filter in its second thread", [](int ready) { withSecondThread(ready, true); },
            "runs under a system-call filter" },
        { "a tracer on its second thread", [](int ready) { withSecondThread(ready, false); }, "is traced by process",
            true },
    };
    for (const auto &c : cases) {
        Child subject(c.setup);
        const pid_t traced = c.traceSecondThread ? secondThreadOf(subject.pid()) : 0;
        ASSERT_TRUE(!traced || ::ptrace(PTRACE_SEIZE, traced, nullptr, nullptr) == 0) << c.name;
        const std::optional<std::string> problem = peerIntegrityProblem(subject.pid());
        if (traced) {
            // The traced thread's end is told to its tracer, which must collect it for the process to go.
            ::kill(subject.pid(), SIGKILL);
            ::waitpid(traced, nullptr, __WALL);
        }
        EXPECT_EQ(problem.has_value(), *c.problem != 0) << c.name;
        EXPECT_NE(problem.value_or("").find(c.problem), std::string::npos) << c.name << ": " << problem.value_or("");
    }
    ::close(foreign);
    // A process that is gone has nothing to inspect, which is a refusal too.
    EXPECT_TRUE(peerIntegrityProblem(999'999'999));
}

// The helper reads a peer's files while other threads start its tool: none of those reads may
// leave a descriptor the tool would inherit. A FIFO holds the read open long enough to look.
TEST(ProcFile, ReadsThroughACloseOnExecDescriptor)
{
    TempDir dir;
    const fs::path fifo = dir.path() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::optional<std::string> text;
    std::thread reader([&] { text = readWholeFile(fifo.string()); });
    // Returns once the reader's open has begun; its descriptor appears in the table a moment
    // later and stays there until the byte below is written.
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    int readerFd = -1;
    for (int i = 0; i < 5000 && readerFd < 0; ++i) {
        for (const auto &entry : fs::directory_iterator("/proc/self/fd")) {
            std::error_code error;
            if (fs::read_symlink(entry.path(), error) == fifo && entry.path().filename() != std::to_string(writer))
                readerFd = std::stoi(entry.path().filename());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(readerFd < 0));
    }
    EXPECT_TRUE(readerFd >= 0 && (::fcntl(readerFd, F_GETFD) & FD_CLOEXEC)) << "descriptor " << readerFd;
    ASSERT_EQ(::write(writer, "x", 1), 1);
    ::close(writer);
    reader.join();
    EXPECT_EQ(text, "x");
}

// A connection whose other end is held by a process that ran another program when it
// connected: its descriptor survived an exec, so it cannot be close-on-exec.
TEST(PeerConnectionIntegration, AnEndCarriedAcrossAnExecIsNotThePeersOwn)
{
    TempDir dir;
    const int listener = bindListeningSocket(dir.path() / "s.sock");
    for (const bool carried : { false, true }) {
        Child peer([&](int ready) {
            if (connectTo(dir.path() / "s.sock", carried) < 0)
                ::_exit(1);
            if (carried)
                runSleep(ready);
            waitHere(ready);
        });
        const int accepted = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        ASSERT_GE(accepted, 0);
        EXPECT_EQ(connectionOwnershipProblem(peer.pid(), accepted),
            carried ? std::optional<std::string>(
                "its end of the connection was made before the program it runs now started")
                    : std::nullopt);
        // Somebody else's process does not hold this connection at all.
        EXPECT_EQ(connectionOwnershipProblem(::getpid(), accepted), "it does not hold its end of the connection");
        ::close(accepted);
    }
    ::close(listener);
}

// The application stops being dumpable before any library's initialiser runs, so not even a
// library preloaded into it finds it open.
TEST(NonDumpableAtStartIntegration, NoLibraryInitialiserFindsTheProcessDumpable)
{
    const ToolOutcome probe = runTool(VEYRA_NONDUMPABLE_PROBE, {}, { "LD_PRELOAD=" VEYRA_REPORT_DUMPABLE });
    EXPECT_EQ(probe.exitStatus, 0) << probe.standardError;
}
