#include "PeerConnection.h"

#include "ProcFile.h"

#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/unix_diag.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veyra::helper {

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd)
        : m_fd(fd)
    {
    }
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// The "flags:" line of /proc/<pid>/fdinfo/<fd>, octal; nothing when it cannot be read.
std::optional<unsigned long> descriptorFlags(pid_t pid, const std::string &fd)
{
    const std::optional<std::string> text = readWholeFile("/proc/" + std::to_string(pid) + "/fdinfo/" + fd);
    if (!text)
        return std::nullopt;
    std::istringstream info(*text);
    std::string key;
    std::string value;
    while (info >> key >> value) {
        if (key == "flags:") {
            try {
                return std::stoul(value, nullptr, 8);
            } catch (...) {
                return std::nullopt;
            }
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<unsigned long> peerSocketInode(int connection)
{
    struct stat own { };
    if (::fstat(connection, &own) != 0 || !S_ISSOCK(own.st_mode))
        return std::nullopt;
    Descriptor netlink(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (netlink.get() < 0)
        return std::nullopt;

    struct {
        nlmsghdr header;
        unix_diag_req request;
    } query {};
    query.header.nlmsg_len = sizeof query;
    query.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    query.header.nlmsg_flags = NLM_F_REQUEST;
    query.request.sdiag_family = AF_UNIX;
    query.request.udiag_states = ~0U;
    query.request.udiag_ino = static_cast<unsigned>(own.st_ino);
    query.request.udiag_show = UDIAG_SHOW_PEER;
    query.request.udiag_cookie[0] = ~0U;
    query.request.udiag_cookie[1] = ~0U;
    sockaddr_nl kernel {};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(netlink.get(), &query, sizeof query, 0, reinterpret_cast<sockaddr *>(&kernel), sizeof kernel)
        != static_cast<ssize_t>(sizeof query))
        return std::nullopt;

    alignas(nlmsghdr) char buffer[8192];
    const ssize_t received = ::recv(netlink.get(), buffer, sizeof buffer, 0);
    if (received <= 0)
        return std::nullopt;
    auto *header = reinterpret_cast<nlmsghdr *>(buffer);
    int left = static_cast<int>(received);
    for (; NLMSG_OK(header, left); header = NLMSG_NEXT(header, left)) {
        if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY)
            return std::nullopt; // an error or the end: the kernel knows no peer
        auto *message = static_cast<unix_diag_msg *>(NLMSG_DATA(header));
        if (message->udiag_ino != own.st_ino)
            continue;
        int attributesLeft = static_cast<int>(header->nlmsg_len - NLMSG_LENGTH(sizeof *message));
        for (auto *attribute = reinterpret_cast<rtattr *>(message + 1); RTA_OK(attribute, attributesLeft);
             attribute = RTA_NEXT(attribute, attributesLeft)) {
            if (attribute->rta_type == UNIX_DIAG_PEER && RTA_PAYLOAD(attribute) >= sizeof(uint32_t)) {
                uint32_t inode = 0;
                std::memcpy(&inode, RTA_DATA(attribute), sizeof inode);
                return inode;
            }
        }
    }
    return std::nullopt;
}

std::optional<std::string> connectionOwnershipProblem(pid_t pid, int connection)
{
    const std::optional<unsigned long> peer = peerSocketInode(connection);
    if (!peer)
        return "its end of the connection cannot be found";
    const std::string wanted = "socket:[" + std::to_string(*peer) + "]";
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    DIR *descriptors = ::opendir(folder.c_str());
    if (!descriptors)
        return "its descriptors cannot be read";
    bool found = false;
    std::optional<std::string> problem;
    while (dirent *entry = ::readdir(descriptors)) {
        if (entry->d_name[0] == '.')
            continue;
        char target[128] = {};
        const std::string link = folder + "/" + entry->d_name;
        const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
        if (length <= 0 || wanted != std::string(target, static_cast<std::size_t>(length)))
            continue;
        found = true;
        const std::optional<unsigned long> flags = descriptorFlags(pid, entry->d_name);
        if (!flags || (*flags & O_CLOEXEC) == 0)
            problem = "its end of the connection was made before the program it runs now started";
    }
    ::closedir(descriptors);
    if (!found)
        return "it does not hold its end of the connection";
    return problem;
}

} // namespace veyra::helper
