// Test client for the helper: sends the bytes of a file as one framed request and prints the
// reply. Exit 0 with a reply, 2 when the helper closed without one, 3 when it could not connect,
// 4 when no reply came within the time limit (so a test fails instead of waiting for ever).
#include "veyra/ipc/Framing.h"

#include <chrono>
#include <cstring>
#include <fstream>
#include <iostream>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int timeLimitSeconds = 5;

using Clock = std::chrono::steady_clock;

int millisecondsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::cerr << "usage: helper_test_client <socket> <request-file>\n";
        return 64;
    }
    std::ifstream file(argv[2], std::ios::binary);
    std::stringstream request;
    request << file.rdbuf();

    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(timeLimitSeconds);
    // Close-on-exec, as the application opens every socket.
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // A full listen backlog blocks connect() and a full socket buffer blocks send(); both give
    // up after the send time-out.
    struct timeval limit = { timeLimitSeconds, 0 };
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    struct sockaddr_un address { };
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, argv[1], sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<struct sockaddr *>(&address), sizeof address) != 0) {
        std::cerr << "connect: " << std::strerror(errno) << "\n";
        return errno == EAGAIN ? 4 : 3;
    }
    const std::string bytes = veyra::ipc::Framing::frame(request.str());
    // A refused client may see its writes fail; that is reported as "no reply" below.
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);

    veyra::ipc::Framing::FrameReader reader;
    char buffer[4096];
    while (reader.status() == veyra::ipc::Framing::FrameReader::Status::needMore) {
        struct pollfd wait = { fd, POLLIN, 0 };
        const int ready = ::poll(&wait, 1, millisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0) {
            std::cerr << "no reply within " << timeLimitSeconds << " s\n";
            ::close(fd);
            return 4;
        }
        const ssize_t n = ready > 0 ? ::recv(fd, buffer, sizeof buffer, 0) : -1;
        if (n <= 0)
            break;
        reader.feed(std::string_view(buffer, static_cast<std::size_t>(n)));
    }
    ::close(fd);
    if (reader.status() != veyra::ipc::Framing::FrameReader::Status::complete)
        return 2;
    std::cout << reader.payload();
    return 0;
}
