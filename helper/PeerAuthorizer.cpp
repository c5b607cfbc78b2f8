#include "PeerAuthorizer.h"

#include "PeerConnection.h"
#include "PeerIntegrity.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

// Older headers do not know the pidfd socket option (Linux 6.5); the value is fixed ABI.
#ifndef SO_PEERPIDFD
#define SO_PEERPIDFD 77
#endif

namespace veyra::helper {

namespace {

// Field 22 of /proc/<pid>/stat, in clock ticks since boot; nothing when the process is gone.
std::optional<unsigned long long> startTime(pid_t pid)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(file, text))
        return std::nullopt;
    // The command name (field 2) may contain spaces and parentheses; count from the last ')'.
    std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    std::istringstream rest(text.substr(close + 2));
    std::string field;
    for (int index = 3; index <= 22; ++index) {
        if (!(rest >> field))
            return std::nullopt;
    }
    try {
        return std::stoull(field);
    } catch (...) {
        return std::nullopt;
    }
}

// Signal 0 only asks whether the process is there; without the right to signal it (the helper
// keeps no CAP_KILL) the answer is EPERM, which still means it is there. Only ESRCH means gone.
bool pidfdStillAlive(int pidfd)
{
    return ::syscall(SYS_pidfd_send_signal, pidfd, 0, nullptr, 0) == 0 || errno == EPERM;
}

} // namespace

RequirementPeerAuthorizer::RequirementPeerAuthorizer(DesignatedRequirement requirement)
    : m_requirement(std::move(requirement))
{
}

bool RequirementPeerAuthorizer::executableMatches(pid_t pid) const
{
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    int fd = ::open(link.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info { };
    bool same = ::fstat(fd, &info) == 0 && info.st_dev == m_requirement.device && info.st_ino == m_requirement.inode;
    if (same)
        same = sha256OfDescriptor(fd) == m_requirement.sha256;
    ::close(fd);
    return same;
}

std::optional<std::string> RequirementPeerAuthorizer::refusal(int connection, pid_t &pid, uid_t &uid) const
{
    struct ucred credentials { };
    socklen_t length = sizeof credentials;
    if (::getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 || credentials.pid <= 0)
        return "no credentials";
    pid = credentials.pid;
    uid = credentials.uid;
    if (credentials.uid == 0)
        return "it runs as root";

    // Everything below is only believed while the same process provably still holds the pid.
    const auto inspect = [this, pid, connection]() -> std::optional<std::string> {
        if (!executableMatches(pid))
            return "it is not the application's executable";
        if (auto problem = peerIntegrityProblem(pid))
            return problem;
        return connectionOwnershipProblem(pid, connection);
    };
    int pidfd = -1;
    length = sizeof pidfd;
    if (::getsockopt(connection, SOL_SOCKET, SO_PEERPIDFD, &pidfd, &length) == 0 && pidfd >= 0) {
        std::optional<std::string> problem = inspect();
        if (!problem && !pidfdStillAlive(pidfd))
            problem = "it has gone";
        ::close(pidfd);
        return problem;
    }
    if (errno != ENOPROTOOPT && errno != EINVAL)
        return "it has gone";

    const std::optional<unsigned long long> before = startTime(pid);
    if (!before)
        return "it has gone";
    std::optional<std::string> problem = inspect();
    if (!problem && startTime(pid) != before)
        problem = "its process id was reused";
    return problem;
}

bool RequirementPeerAuthorizer::authorize(int connection)
{
    pid_t pid = 0;
    uid_t uid = 0;
    const std::optional<std::string> problem = refusal(connection, pid, uid);
    if (problem)
        std::fprintf(
            stderr, "VeyraProxyHelper: refused peer pid %d uid %u: %s\n", int(pid), unsigned(uid), problem->c_str());
    return !problem;
}

} // namespace veyra::helper
