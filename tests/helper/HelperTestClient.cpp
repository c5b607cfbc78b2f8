// Test client for the helper: sends the bytes of a file as one framed request and prints the
// reply. Exit 0 with a reply, 2 when the helper closed without one, 3 when it could not connect.
// The tests run it under a time limit of their own.
#include "veyra/ipc/Framing.h"

#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    using veyra::ipc::Framing::FrameReader;
    if (argc != 3)
        return 64;
    std::stringstream request;
    request << std::ifstream(argv[2], std::ios::binary).rdbuf();
    // Close-on-exec, as the application opens every socket.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un address { };
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, argv[1], sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<struct sockaddr *>(&address), sizeof address) != 0)
        return 3;
    // A refused client may see its writes fail; that is reported as "no reply" below.
    const std::string bytes = veyra::ipc::Framing::frame(request.str());
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    FrameReader reader;
    char buffer[4096];
    while (reader.status() == FrameReader::Status::needMore) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return 2;
        reader.feed(std::string_view(buffer, static_cast<std::size_t>(n)));
    }
    if (reader.status() != FrameReader::Status::complete)
        return 2;
    std::cout << reader.payload();
    return 0;
}
