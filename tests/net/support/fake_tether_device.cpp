#include "tests/net/support/fake_tether_device.h"

#include "net/socket_util.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

namespace kx5::test {

namespace {
constexpr int kLimitMs = 20000;
}

UniqueFd connectLoopback(uint16_t port, const char* source) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in from{};
    from.sin_family = AF_INET;
    ::inet_aton(source, &from.sin_addr);
    ::bind(fd.get(), reinterpret_cast<sockaddr*>(&from), sizeof from);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) return {};
    return fd;
}

FakeTetherDevice::FakeTetherDevice() {
    auto listener = net::listenTcp(1, in_addr{htonl(INADDR_LOOPBACK)});
    listener_ = std::move(listener.fd);
    port_ = listener.port;
}

bool FakeTetherDevice::accept() {
    if (net::waitReadable(listener_.get(), nullptr, kLimitMs) != net::WaitResult::Ready)
        return false;
    connection_.reset(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    reader_ = {};
    return static_cast<bool>(connection_);
}

std::optional<net::tether::Message> FakeTetherDevice::read(bool withPings) {
    for (;;) {
        net::tether::Message m;
        while (reader_.next(m) == net::tether::MessageReader::Result::Message) {
            const bool ping = m.type == net::tether::kKeepAlive && m.sub == 0;
            pings_ += ping ? 1 : 0;
            if (!ping || withPings) return m;
        }
        if (!connection_ ||
            net::waitReadable(connection_.get(), nullptr, kLimitMs) != net::WaitResult::Ready)
            return std::nullopt;
        char buf[4096];
        const ssize_t n = ::recv(connection_.get(), buf, sizeof buf, 0);
        if (n <= 0) return std::nullopt;
        reader_.feed(buf, static_cast<size_t>(n));
    }
}

bool FakeTetherDevice::seesClose() {
    while (read(true)) {
    }
    char c;
    return connection_ && ::recv(connection_.get(), &c, 1, MSG_DONTWAIT) == 0;
}

void FakeTetherDevice::send(uint8_t type, uint8_t sub, const Bytes& payload) {
    sendRaw(net::tether::encodeMessage(type, sub, payload));
}

void FakeTetherDevice::sendRaw(const Bytes& bytes) {
    if (connection_) net::sendAll(connection_.get(), bytes.data(), bytes.size());
}

} // namespace kx5::test
