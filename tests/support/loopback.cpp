#include "tests/support/loopback.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kx5::test {

int listenOnLoopback(int backlog, uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(a.sin_port);
    return fd;
}

int freeLocalPort() {
    uint16_t port = 0;
    const int fd = listenOnLoopback(1, port);
    if (fd < 0) return 0;
    ::close(fd);
    return port;
}

} // namespace kx5::test
