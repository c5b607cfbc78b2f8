// A kernel stand-in for one test only: it passes the configuration check, opens the controller
// port named in the configuration and then ignores SIGTERM, so only SIGKILL ends it.
// It gives up on its own after a minute so that a failed test leaves nothing behind.

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    std::string config;
    bool testOnly = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-t") == 0)
            testOnly = true;
        else if (std::strcmp(argv[i], "-f") == 0 && i + 1 < argc)
            config = argv[++i];
    }
    if (testOnly)
        return 0;
    std::signal(SIGTERM, SIG_IGN);

    int port = 0;
    std::ifstream input(config);
    const std::string key = "external-controller: 127.0.0.1:";
    for (std::string line; std::getline(input, line);)
        if (line.rfind(key, 0) == 0)
            port = std::stoi(line.substr(key.size()));
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || ::listen(fd, 8) != 0) {
        std::perror("listen");
        return 1;
    }
    std::printf("stubborn kernel listening on %d\n", port);
    std::fflush(stdout);
    const std::time_t deadline = std::time(nullptr) + 60;
    while (std::time(nullptr) < deadline)
        ::usleep(100'000);
    return 0;
}
