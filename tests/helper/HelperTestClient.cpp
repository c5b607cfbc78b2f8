// Test client for the helper: sends the bytes of a file as one framed request and prints the
// reply. Exit 0 with a reply, 2 when the helper closed without one, 3 when it could not connect.
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
    if (argc != 3) {
        std::cerr << "usage: helper_test_client <socket> <request-file>\n";
        return 64;
    }
    std::ifstream file(argv[2], std::ios::binary);
    std::stringstream request;
    request << file.rdbuf();

    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    struct sockaddr_un address { };
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, argv[1], sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<struct sockaddr *>(&address), sizeof address) != 0) {
        std::cerr << "connect: " << std::strerror(errno) << "\n";
        return 3;
    }
    const std::string bytes = veyra::ipc::Framing::frame(request.str());
    // A refused client may see its writes fail; that is reported as "no reply" below.
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);

    veyra::ipc::Framing::FrameReader reader;
    char buffer[4096];
    ssize_t n;
    while (reader.status() == veyra::ipc::Framing::FrameReader::Status::needMore
        && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
        reader.feed(std::string_view(buffer, static_cast<std::size_t>(n)));
    ::close(fd);
    if (reader.status() != veyra::ipc::Framing::FrameReader::Status::complete)
        return 2;
    std::cout << reader.payload();
    return 0;
}
