// sandbox-log-sink PATH: a system-log socket (what /dev/log is) that prints every message it
// receives as one line, so what the programs of the simulated world log stays in that world.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: sandbox-log-sink PATH\n");
        return 2;
    }
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (std::strlen(argv[1]) >= sizeof address.sun_path) {
        std::fprintf(stderr, "sandbox-log-sink: path too long\n");
        return 2;
    }
    std::strcpy(address.sun_path, argv[1]);
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ::unlink(argv[1]);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::chmod(argv[1], 0666) != 0) {
        std::fprintf(stderr, "sandbox-log-sink: %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return 1;
        }
        std::string line(buffer, std::size_t(n));
        while (!line.empty() && (line.back() == '\n' || line.back() == '\0'))
            line.pop_back();
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }
}
