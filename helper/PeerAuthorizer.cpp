#include "PeerAuthorizer.h"

#include "PeerConnection.h"
#include "PeerIntegrity.h"
#include "ProcFile.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
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
    const std::optional<std::string> read = readWholeFile("/proc/" + std::to_string(pid) + "/stat");
    if (!read)
        return std::nullopt;
    const std::string text = read->substr(0, read->find('\n'));
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

RequirementPeerAuthorizer::RequirementPeerAuthorizer(DesignatedRequirement requirement, Digest digest)
    : m_requirement(std::move(requirement))
    , m_digest(std::move(digest))
    , m_verified(m_requirement.identity)
{
}

std::optional<std::string> RequirementPeerAuthorizer::executableProblem(pid_t pid) const
{
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    const int fd = ::open(link.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "its executable cannot be read";
    struct stat info { };
    const bool opened = ::fstat(fd, &info) == 0;
    const FileIdentity identity = FileIdentity::of(info);
    // The same file under another name (a hard link placed elsewhere) is not the application:
    // what the application does next depends on where it runs from.
    char target[4096];
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
    std::optional<std::string> problem;
    if (!opened || identity.device != m_requirement.identity.device || identity.inode != m_requirement.identity.inode)
        problem = "it is not the application's executable";
    else if (length <= 0 || std::string_view(target, static_cast<std::size_t>(length)) != m_requirement.executablePath)
        problem = "it runs the application's executable from another path";
    if (!problem && !alreadyVerified(identity)) {
        if (m_digest(fd) != m_requirement.sha256) {
            problem = "its executable's content is not the application's";
        } else {
            std::lock_guard guard(m_verifiedLock);
            m_verified = identity;
        }
    }
    ::close(fd);
    return problem;
}

bool RequirementPeerAuthorizer::alreadyVerified(const FileIdentity &identity) const
{
    std::lock_guard guard(m_verifiedLock);
    return identity == m_verified;
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
        if (auto problem = executableProblem(pid))
            return problem;
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
