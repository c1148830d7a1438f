#include "net/tether_discovery.h"

#include "net/tether_protocol.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <list>

namespace kx5 {
namespace {

namespace tether = net::tether;
using Clock = std::chrono::steady_clock;

// Replies being received at once, and how long one may take.
constexpr size_t kMaxPendingReplies = 32;
constexpr auto kReplyTimeLimit = std::chrono::seconds(5);

struct PendingReply {
    UniqueFd fd;
    in_addr peer{};
    std::vector<char> bytes;
    Clock::time_point deadline;
};

std::vector<TetherDiscoveryTarget> interfaceBroadcastTargets() {
    std::vector<TetherDiscoveryTarget> targets;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        targets.push_back({in_addr{htonl(INADDR_BROADCAST)}, tether::kDiscoveryPort});
        return targets;
    }
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP) ||
            !(i->ifa_flags & IFF_BROADCAST) || !i->ifa_broadaddr)
            continue;
        const auto* b = reinterpret_cast<const sockaddr_in*>(i->ifa_broadaddr);
        targets.push_back({b->sin_addr, tether::kDiscoveryPort});
    }
    ::freeifaddrs(list);
    return targets;
}

} // namespace

TetherDiscovery::TetherDiscovery(std::vector<TetherDiscoveryTarget> targets)
    : targets_(std::move(targets)) {}

TetherDiscovery::~TetherDiscovery() {
    std::lock_guard lock(listenerMutex_);
    stopLocked();
}

std::vector<TetherDiscoveryTarget>
TetherDiscovery::targetsFromArguments(const std::vector<std::string>& arguments) {
    static const std::string option = "--tether-discovery=";
    std::vector<TetherDiscoveryTarget> targets;
    for (const auto& a : arguments) {
        if (a.rfind(option, 0) != 0) continue;
        std::string list = a.substr(option.size());
        size_t start = 0;
        while (start <= list.size()) {
            const size_t comma = std::min(list.find(',', start), list.size());
            const std::string entry = list.substr(start, comma - start);
            start = comma + 1;
            const size_t colon = entry.find(':');
            TetherDiscoveryTarget t;
            t.port = tether::kDiscoveryPort;
            if (colon != std::string::npos) {
                try {
                    const int port = std::stoi(entry.substr(colon + 1));
                    if (port < 1 || port > 65535) continue;
                    t.port = static_cast<uint16_t>(port);
                } catch (...) {
                    continue;
                }
            }
            const auto address = net::parseIpv4(entry.substr(0, colon));
            if (!address) continue;
            t.address = *address;
            targets.push_back(t);
        }
    }
    return targets;
}

void TetherDiscovery::restart() {
    std::lock_guard lock(listenerMutex_);
    stopLocked();
    {
        std::lock_guard list(listMutex_);
        found_.clear();
    }
    net::TcpListener listener = net::listenTcp(5);
    if (!listener.fd) return;
    const uint16_t port = listener.port;
    thread_ = std::thread([this, fd = std::move(listener.fd)]() mutable { run(std::move(fd)); });
    announce(port);
}

void TetherDiscovery::stopLocked() {
    if (!thread_.joinable()) return;
    stop_.signal();
    thread_.join();
    stop_.clear();
}

std::vector<TetherDevice> TetherDiscovery::devices() const {
    std::lock_guard lock(listMutex_);
    return found_;
}

void TetherDiscovery::announce(uint16_t replyPort) const {
    UniqueFd udp(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!udp) return;
    const int on = 1;
    ::setsockopt(udp.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    const Bytes datagram = tether::discoveryDatagram(replyPort);
    for (const auto& t : targets_.empty() ? interfaceBroadcastTargets() : targets_) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr = t.address;
        to.sin_port = htons(t.port);
        ::sendto(udp.get(), datagram.data(), datagram.size(), 0,
                 reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
}

// One thread serves the listener and every reply in progress, so a device
// that connects and says nothing holds up no one.
void TetherDiscovery::run(UniqueFd listener) {
    std::list<PendingReply> pending;
    for (;;) {
        std::vector<pollfd> fds = {{stop_.fd(), POLLIN, 0}, {listener.get(), POLLIN, 0}};
        for (const auto& r : pending)
            fds.push_back({r.fd.get(), POLLIN, 0});
        int timeoutMs = -1;
        if (!pending.empty()) {
            const auto now = Clock::now();
            auto next = pending.front().deadline;
            for (const auto& r : pending)
                next = std::min(next, r.deadline);
            timeoutMs = next <= now
                            ? 0
                            : static_cast<int>(
                                  std::chrono::ceil<std::chrono::milliseconds>(next - now).count());
        }
        if (::poll(fds.data(), fds.size(), timeoutMs) < 0 && errno != EINTR) return;
        if (fds[0].revents & POLLIN) return;

        size_t index = 2;
        const auto now = Clock::now();
        for (auto it = pending.begin(); it != pending.end(); ++index) {
            bool done = now >= it->deadline;
            if (fds[index].revents) {
                char buf[tether::kReplySize];
                const ssize_t n =
                    ::recv(it->fd.get(), buf, tether::kReplySize - it->bytes.size(), 0);
                if (n > 0) {
                    it->bytes.insert(it->bytes.end(), buf, buf + n);
                    if (it->bytes.size() == tether::kReplySize) {
                        accept(it->bytes, it->peer);
                        done = true;
                    }
                } else if (!(n < 0 && (errno == EAGAIN || errno == EINTR))) {
                    done = true; // closed before the reply was complete
                }
            }
            it = done ? pending.erase(it) : std::next(it);
        }

        if (fds[1].revents & POLLIN) {
            sockaddr_in peer{};
            socklen_t len = sizeof peer;
            UniqueFd fd(::accept4(listener.get(), reinterpret_cast<sockaddr*>(&peer), &len,
                                  SOCK_NONBLOCK | SOCK_CLOEXEC));
            if (fd && pending.size() < kMaxPendingReplies)
                pending.push_back({std::move(fd), peer.sin_addr, {}, now + kReplyTimeLimit});
        }
    }
}

void TetherDiscovery::accept(const std::vector<char>& bytes, in_addr peer) {
    const auto reply = tether::decodeReply(reinterpret_cast<const uint8_t*>(bytes.data()));
    if (!reply || peer.s_addr == 0 || reply->controlPort == 0 || reply->caps == 0) return;
    TetherDevice d;
    d.address = net::ipv4Text(peer);
    d.port = reply->controlPort;
    d.uid = tether::deviceUid(*reply);
    d.caps = reply->caps;
    d.image = reply->image;
    d.status = reply->status;
    d.manufacturer = reply->manufacturer;
    d.version = reply->version;
    d.name = reply->name;
    std::lock_guard lock(listMutex_);
    for (const auto& known : found_)
        if (known.uid == d.uid) return;
    found_.push_back(d);
    if (delegate_) delegate_->found(d);
}

} // namespace kx5
