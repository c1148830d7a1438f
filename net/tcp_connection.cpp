#include "net/tcp_connection.h"

#include "net/serial_port.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <vector>

namespace kx5 {
namespace {

constexpr size_t kSocketReadBytes = 131072;
constexpr size_t kSerialReadBytes = 4096;
constexpr int kSerialIntervalMs = 10;
// A peer that takes nothing for this long is treated as gone.
constexpr int kWriteStallMs = 5000;

} // namespace

std::unique_ptr<TcpConnection> TcpConnection::connectTcp(in_addr address, uint16_t port,
                                                         int timeoutMs) {
    UniqueFd fd = net::connectTcp(address, port, timeoutMs);
    if (!fd) return nullptr;
    net::setSendTimeout(fd.get(), kWriteStallMs);
    return std::unique_ptr<TcpConnection>(new TcpConnection(Kind::Socket, std::move(fd)));
}

std::unique_ptr<TcpConnection> TcpConnection::openSerial(const std::string& devicePath,
                                                         uint32_t baud) {
    UniqueFd fd = net::openSerialPort(devicePath, baud);
    if (!fd) return nullptr;
    return std::unique_ptr<TcpConnection>(new TcpConnection(Kind::Serial, std::move(fd)));
}

TcpConnection::~TcpConnection() {
    detached_ = true;
    endStream();
    if (reader_.joinable()) reader_.join();
    if (kind_ == Kind::Serial && fd_) net::releaseSerialPort(fd_.get());
}

void TcpConnection::startReader(Callbacks callbacks) {
    callbacks_ = std::move(callbacks);
    reader_ = std::thread([this] { run(); });
}

void TcpConnection::endStream() {
    closing_ = true;
    if (kind_ == Kind::Socket) ::shutdown(fd_.get(), SHUT_RDWR);
    stop_.signal();
}

void TcpConnection::close() {
    if (closing_.exchange(true)) return;
    if (kind_ == Kind::Serial) net::releaseSerialPort(fd_.get());
    endStream();
}

void TcpConnection::write(const Bytes& bytes) {
    std::lock_guard lock(writeMutex_);
    if (closing_ || bytes.empty()) return;
    bool ok = true;
    if (kind_ == Kind::Socket) {
        ok = net::sendAll(fd_.get(), bytes.data(), bytes.size());
    } else {
        size_t done = 0;
        while (ok && done < bytes.size()) {
            const ssize_t n = ::write(fd_.get(), bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else if (n < 0 && errno == EAGAIN) {
                pollfd p{fd_.get(), POLLOUT, 0};
                ok = ::poll(&p, 1, kWriteStallMs) > 0 && !(p.revents & (POLLERR | POLLHUP));
            } else if (!(n < 0 && errno == EINTR)) {
                ok = false;
            }
        }
    }
    if (!ok) endStream();
}

ssize_t TcpConnection::readSerialBurst(char* buffer, size_t capacity) {
    size_t got = 0;
    while (got < capacity) {
        const ssize_t n = ::read(fd_.get(), buffer + got, capacity - got);
        if (n > 0) {
            got += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return got > 0 ? static_cast<ssize_t>(got) : -1;
        if (n == 0) return got > 0 ? static_cast<ssize_t>(got) : -1; // hang-up
        // Nothing more right now: wait one interval for the next byte.
        if (got == 0 ||
            net::waitReadable(fd_.get(), &stop_, kSerialIntervalMs) != net::WaitResult::Ready)
            break;
    }
    return static_cast<ssize_t>(got);
}

void TcpConnection::run() {
    std::vector<char> buffer(kind_ == Kind::Socket ? kSocketReadBytes : kSerialReadBytes);
    while (!closing_) {
        if (net::waitReadable(fd_.get(), &stop_, -1) != net::WaitResult::Ready) break;
        ssize_t n;
        if (kind_ == Kind::Socket) {
            n = ::recv(fd_.get(), buffer.data(), buffer.size(), 0);
            if (n < 0 && errno == EINTR) continue;
        } else {
            n = readSerialBurst(buffer.data(), buffer.size());
            if (n == 0) continue;
        }
        if (n <= 0) break;
        if (!detached_ && callbacks_.read)
            callbacks_.read(Bytes(buffer.data(), static_cast<size_t>(n)));
    }
    if (!detached_ && callbacks_.closed) callbacks_.closed();
    finished_ = true;
}

} // namespace kx5
