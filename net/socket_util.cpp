#include "net/socket_util.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>

namespace kx5::net {

WakeEvent::WakeEvent() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void WakeEvent::signal() const {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd_.get(), &one, sizeof one);
}

void WakeEvent::clear() const {
    uint64_t value = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd_.get(), &value, sizeof value);
}

std::optional<in_addr> parseIpv4(const std::string& text) {
    in_addr address{};
    if (text.empty() || ::inet_aton(text.c_str(), &address) == 0) return std::nullopt;
    return address;
}

std::string ipv4Text(in_addr address) {
    char buf[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, buf, sizeof buf);
    return buf;
}

UniqueFd connectTcp(in_addr address, uint16_t port, int timeoutMs, const WakeEvent* wake) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) return fd;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr = address;
    peer.sin_port = htons(port);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
        if (errno != EINPROGRESS) return UniqueFd();
        pollfd fds[2] = {{fd.get(), POLLOUT, 0}, {wake ? wake->fd() : -1, POLLIN, 0}};
        int ready;
        do {
            ready = ::poll(fds, wake ? 2 : 1, timeoutMs < 0 ? 0 : timeoutMs);
        } while (ready < 0 && errno == EINTR);
        if (ready <= 0 || !(fds[0].revents & (POLLOUT | POLLERR | POLLHUP))) {
            errno = ready == 0 ? ETIMEDOUT : ECANCELED;
            return UniqueFd();
        }
        int error = 0;
        socklen_t len = sizeof error;
        if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) {
            errno = error ? error : errno;
            return UniqueFd();
        }
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

TcpListener listenTcp(int backlog, in_addr address) {
    TcpListener listener;
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) return listener;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr = address;
    socklen_t len = sizeof local;
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        ::listen(fd.get(), backlog) != 0 ||
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&local), &len) != 0)
        return listener;
    listener.fd = std::move(fd);
    listener.port = ntohs(local.sin_port);
    return listener;
}

bool sendAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

WaitResult waitReadable(int fd, const WakeEvent* wake, int timeoutMs) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake ? wake->fd() : -1, POLLIN, 0}};
    int ready;
    do {
        ready = ::poll(fds, wake ? 2 : 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) return WaitResult::Failed;
    if (ready == 0) return WaitResult::TimedOut;
    if (wake && (fds[1].revents & POLLIN)) return WaitResult::Woken;
    return WaitResult::Ready;
}

void setSendTimeout(int fd, int milliseconds) {
    timeval tv{milliseconds / 1000, (milliseconds % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

} // namespace kx5::net
