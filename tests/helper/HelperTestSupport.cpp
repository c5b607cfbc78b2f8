#include "HelperTestSupport.h"

#include "veyra/ipc/ProxyHelperRecords.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace veyra::helper::test {

sockaddr_un addressOf(const fs::path &path)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    return address;
}

bool runningAsRoot()
{
    return ::geteuid() == 0;
}

void copyExecutable(const fs::path &from, const fs::path &to)
{
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    fs::permissions(to, fs::perms(0755));
}

Child::Child(const std::function<void(int ready)> &setup)
{
    int ready[2];
    if (::pipe(ready) != 0 || (m_pid = ::fork()) < 0)
        throw std::runtime_error("cannot start the child");
    if (m_pid == 0) {
        ::close(ready[0]);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL); // goes with a test process killed by its time limit
        // Nothing may escape into this copy of the test runner: it would go on running tests.
        try {
            setup(ready[1]);
        } catch (...) {
            ::_exit(125);
        }
        ::_exit(0);
    }
    ::close(ready[1]);
    char byte = 0;
    m_ready = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
}

Child::~Child()
{
    if (!wait(std::chrono::milliseconds(0))) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

std::optional<int> Child::wait(std::chrono::milliseconds limit)
{
    for (const auto deadline = std::chrono::steady_clock::now() + limit; !m_status;) {
        int raw = 0;
        if (::waitpid(m_pid, &raw, WNOHANG) == m_pid)
            m_status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        else if (std::chrono::steady_clock::now() >= deadline)
            break;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return m_status;
}

int connectTo(const fs::path &socket, bool inheritable)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | (inheritable ? 0 : SOCK_CLOEXEC), 0);
    const struct timeval limit = { 5, 0 }; // a full listen backlog is waited for so long at most
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    const sockaddr_un address = addressOf(socket);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
        return fd;
    ::close(fd);
    return -1;
}

// Raw system calls only: the test process may have other threads.
void becomeUser(uid_t uid)
{
    if (::syscall(SYS_setgroups, 0, nullptr) != 0 || ::syscall(SYS_setresgid, uid, uid, uid) != 0
        || ::syscall(SYS_setresuid, uid, uid, uid) != 0)
        ::_exit(126);
}

TestBundle::TestBundle(const fs::path &root)
    : bundle(root / "Test.app")
    , macos(bundle / "Contents" / "MacOS")
    , mainExecutable(macos / "VeyraNetworkAssistant")
    , helper(macos / "VeyraProxyHelper")
{
    fs::create_directories(macos);
    for (const fs::path &directory : { bundle, bundle / "Contents", macos })
        fs::permissions(directory, fs::perms(0755));
    copyExecutable(VEYRA_TEST_CLIENT, mainExecutable);
    copyExecutable(VEYRA_HELPER_EXECUTABLE, helper);
}

ToolOutcome runClient(const fs::path &client, const fs::path &socket, const fs::path &requestFile, uid_t uid,
    const std::vector<std::string> &environment)
{
    if (uid == 0)
        return runTool(client.string(), { socket.string(), requestFile.string() }, environment);
    const std::string id = std::to_string(uid);
    return runTool("/usr/bin/setpriv",
        { "--reuid=" + id, "--regid=" + id, "--clear-groups", client.string(), socket.string(), requestFile.string() },
        environment, 65'536, std::chrono::seconds(10), ToolCapabilities::inherited);
}

std::string requestJson(const std::vector<std::vector<std::string>> &commands)
{
    return ipc::ProxyHelperRequest { commands }.encode();
}

} // namespace veyra::helper::test
