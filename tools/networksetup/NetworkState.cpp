#include "NetworkState.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

nlohmann::json endpoint()
{
    return { { "enabled", false }, { "server", "" }, { "port", 0 } };
}

nlohmann::json service(const std::string &name, const std::string &address, bool enabled)
{
    return {
        { "name", name },
        { "enabled", enabled },
        { "ipAddress", address },
        { "web", endpoint() },
        { "secureWeb", endpoint() },
        { "socks", endpoint() },
        { "bypassDomains", nlohmann::json::array() },
        { "autoProxyURL", "" },
        { "autoProxyEnabled", false },
        { "autoDiscoveryEnabled", false },
    };
}

std::runtime_error failure(const std::string &what)
{
    return std::runtime_error(what + ": " + std::strerror(errno));
}

} // namespace

std::string NetworkState::pathFromEnvironment()
{
    const char *value = std::getenv(pathVariable);
    return value && *value ? value : defaultPath;
}

nlohmann::json NetworkState::defaultState()
{
    return {
        { "services",
            { service("Wi-Fi", "192.168.1.20", true), service("Ethernet", "", true),
                service("Bluetooth PAN", "", false) } },
        { "failures", nlohmann::json::array() },
        { "history", nlohmann::json::array() },
    };
}

NetworkState::NetworkState(std::string path)
    : m_path(std::move(path))
{
    std::filesystem::path file(m_path);
    if (file.has_parent_path())
        std::filesystem::create_directories(file.parent_path());
    const std::string lockPath = m_path + ".lock";
    // Read-only is enough to lock, so every user reading the settings can share one lock file.
    m_lockFd = ::open(lockPath.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (m_lockFd < 0)
        throw failure("cannot open " + lockPath);
    struct stat lock { };
    if (::fstat(m_lockFd, &lock) == 0 && lock.st_uid == ::geteuid())
        ::fchmod(m_lockFd, (lock.st_mode & 07777) | 0444);
    while (::flock(m_lockFd, LOCK_EX) != 0) {
        if (errno != EINTR)
            throw failure("cannot lock " + lockPath);
    }
    std::ifstream in(m_path, std::ios::binary);
    if (!in) {
        m_data = defaultState();
        save();
        return;
    }
    std::stringstream text;
    text << in.rdbuf();
    m_data = nlohmann::json::parse(text.str());
    for (const char *list : { "services", "failures", "history" })
        if (!m_data.contains(list))
            m_data[list] = nlohmann::json::array();
}

NetworkState::~NetworkState()
{
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

void NetworkState::save()
{
    const std::string temporary = m_path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << m_data.dump(2) << '\n';
        if (!out.flush())
            throw failure("cannot write " + temporary);
    }
    // Readable by every user whatever the writer's umask (the helper runs with 0077), as the
    // system's network settings are: users read them without privileges.
    if (::chmod(temporary.c_str(), 0644) != 0)
        throw failure("cannot set the mode of " + temporary);
    if (std::rename(temporary.c_str(), m_path.c_str()) != 0)
        throw failure("cannot replace " + m_path);
}
