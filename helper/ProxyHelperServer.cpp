#include "ProxyHelperServer.h"

#include "veyra/ipc/Framing.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace veyra::helper {

namespace {

using Clock = std::chrono::steady_clock;

int remainingMilliseconds(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// One framed request, read before the deadline; nothing on time-out, EOF or error.
std::optional<ipc::Framing::FrameReader> readRequest(int fd, Clock::time_point deadline)
{
    ipc::Framing::FrameReader reader;
    char buffer[16384];
    while (reader.status() == ipc::Framing::FrameReader::Status::needMore) {
        struct pollfd wait = { fd, POLLIN, 0 };
        int ready = ::poll(&wait, 1, remainingMilliseconds(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return std::nullopt;
        ssize_t n = ::recv(fd, buffer, std::min(sizeof buffer, reader.wanted()), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        reader.feed(std::string_view(buffer, static_cast<std::size_t>(n)));
    }
    return reader;
}

void writeReply(int fd, const std::string &payload, Clock::time_point deadline)
{
    const std::string bytes = ipc::Framing::frame(payload);
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        struct pollfd wait = { fd, POLLOUT, 0 };
        int ready = ::poll(&wait, 1, remainingMilliseconds(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return;
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        sent += static_cast<std::size_t>(n);
    }
}

// "pid 123 uid 1000", for the log.
std::string peerName(int connection)
{
    struct ucred credentials { };
    socklen_t length = sizeof credentials;
    if (::getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        return {};
    return "pid " + std::to_string(credentials.pid) + " uid " + std::to_string(credentials.uid);
}

} // namespace

ProxyHelperServer::ProxyHelperServer(
    int listeningSocket, ProxyHelperService service, std::unique_ptr<PeerAuthorizer> authorizer)
    : ProxyHelperServer(listeningSocket, std::move(service), std::move(authorizer), Limits {})
{
}

ProxyHelperServer::ProxyHelperServer(
    int listeningSocket, ProxyHelperService service, std::unique_ptr<PeerAuthorizer> authorizer, Limits limits)
    : m_listener(listeningSocket)
    , m_service(std::move(service))
    , m_authorizer(std::move(authorizer))
    , m_limits(limits)
    , m_slots(limits.maximumConnections, limits.maximumConnectionsPerUser)
{
    if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe");
}

ProxyHelperServer::~ProxyHelperServer()
{
    stop();
    m_slots.waitUntilEmpty();
    ::close(m_wake[0]);
    ::close(m_wake[1]);
}

void ProxyHelperServer::stop()
{
    if (!m_slots.stopping()) {
        m_slots.stop();
        char byte = 0;
        [[maybe_unused]] ssize_t ignored = ::write(m_wake[1], &byte, 1);
    }
}

int ProxyHelperServer::pollTimeout()
{
    if (!m_limits.idleExit)
        return -1;
    // While a connection is in flight the idle time cannot run out before it ends; look again
    // after a whole idle time, which bounds the exit to twice the idle time after the last one.
    const auto idle = m_slots.idleFor();
    if (!idle)
        return static_cast<int>(m_limits.idleExit->count());
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*m_limits.idleExit - *idle).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool ProxyHelperServer::idleTimeReached()
{
    const auto idle = m_slots.idleFor();
    return m_limits.idleExit && idle && *idle >= *m_limits.idleExit;
}

void ProxyHelperServer::serve()
{
    while (m_slots.waitForFreeSlot()) {
        struct pollfd waits[2] = { { m_listener, POLLIN, 0 }, { m_wake[0], POLLIN, 0 } };
        int ready = ::poll(waits, 2, pollTimeout());
        if (ready == 0 && idleTimeReached())
            break;
        if (ready < 0 && errno != EINTR)
            std::this_thread::sleep_for(std::chrono::milliseconds(100)); // never spin on a failing poll
        if (ready <= 0 || m_slots.stopping() || !(waits[0].revents & POLLIN))
            continue;
        int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            // Out of descriptors or memory: back off instead of spinning on a ready listener.
            if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        dispatch(connection);
    }
    m_slots.waitUntilEmpty();
}

void ProxyHelperServer::dispatch(int connection)
{
    struct ucred credentials { };
    socklen_t length = sizeof credentials;
    if (::getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0
        || !m_slots.admit(credentials.uid)) {
        ::close(connection);
        return;
    }
    const uid_t uid = credentials.uid;
    try {
        std::thread([this, connection, uid] {
            serveConnection(connection);
            m_slots.release(uid);
        }).detach();
    } catch (const std::system_error &) {
        ::close(connection);
        m_slots.release(uid);
    }
}

void ProxyHelperServer::serveConnection(int connection)
{
    const Clock::time_point deadline = Clock::now() + m_limits.ioTimeout;
    // A refused peer sees its connection closed without a reply, before anything is read.
    if (m_authorizer->authorize(connection)) {
        if (auto request = readRequest(connection, deadline)) {
            const bool oversized = request->status() == ipc::Framing::FrameReader::Status::oversized;
            // Checked again right before anything runs; a peer refused now gets no reply.
            if (oversized || m_authorizer->stillAuthorized(connection)) {
                const std::string reply = oversized ? ProxyHelperService::oversizedReply()
                                                    : m_service.execute(request->payload(), peerName(connection));
                writeReply(connection, reply, Clock::now() + m_limits.ioTimeout);
            }
        }
    }
    ::close(connection);
}

int bindListeningSocket(const std::string &path)
{
    struct sockaddr_un address { };
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        throw std::system_error(ENAMETOOLONG, std::generic_category(), path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    struct stat existing { };
    if (::lstat(path.c_str(), &existing) == 0) {
        if (!S_ISSOCK(existing.st_mode))
            throw std::system_error(EEXIST, std::generic_category(), path);
        ::unlink(path.c_str());
    }
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(), "socket");
    if (::bind(fd, reinterpret_cast<struct sockaddr *>(&address), sizeof address) != 0
        || ::chmod(path.c_str(), 0666) != 0 || ::listen(fd, SOMAXCONN) != 0) {
        int code = errno;
        ::close(fd);
        throw std::system_error(code, std::generic_category(), path);
    }
    return fd;
}

} // namespace veyra::helper
