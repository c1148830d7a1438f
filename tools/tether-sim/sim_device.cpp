#include "tools/tether-sim/sim_device.h"

#include "net/socket_util.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <sstream>
#include <vector>

namespace kx5::tethersim {
namespace {

namespace tether = net::tether;
using Clock = std::chrono::steady_clock;

constexpr uint64_t kBytesPerSecond = 176400;
constexpr auto kStateInterval = std::chrono::milliseconds(100);

void log(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// Frame k of the test signal the device records: a saw on the left, its
// negation on the right.
void patternFrame(uint64_t k, uint8_t* out) {
    const auto left = static_cast<int16_t>(static_cast<int>(k % 441) * 64 - 14112);
    const auto right = static_cast<int16_t>(-left);
    std::memcpy(out, &left, 2);
    std::memcpy(out + 2, &right, 2);
}

bool parseNumber(const char* text, unsigned long max, unsigned long& out) {
    char* end = nullptr;
    errno = 0;
    out = std::strtoul(text, &end, 0);
    return errno == 0 && end && *end == '\0' && out <= max;
}

} // namespace

bool parseOptions(int argc, char** argv, SimOptions& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const auto value = [&](const char* name) -> const char* {
            if (a != name || i + 1 >= argc) return nullptr;
            return argv[++i];
        };
        unsigned long n = 0;
        if (a == "--silent")
            o.silent = true;
        else if (a == "--fast")
            o.realTime = false;
        else if (const char* v = value("--bind"))
            o.bindAddress = v;
        else if (const char* v = value("--name"))
            o.name = v;
        else if (const char* v = value("--manufacturer"))
            o.manufacturer = v;
        else if (const char* v = value("--version"))
            o.version = v;
        else if (const char* v = value("--uid-prefix"))
            o.uidPrefix = v;
        else if (const char* v = value("--discovery-port"); v && parseNumber(v, 65535, n))
            o.discoveryPort = static_cast<uint16_t>(n);
        else if (const char* v = value("--control-port"); v && parseNumber(v, 65535, n))
            o.controlPort = static_cast<uint16_t>(n);
        else if (const char* v = value("--serial"); v && parseNumber(v, 0xFFFFFFFF, n))
            o.serial = static_cast<uint32_t>(n);
        else if (const char* v = value("--caps"); v && parseNumber(v, 255, n))
            o.caps = static_cast<uint8_t>(n);
        else if (const char* v = value("--replies"); v && parseNumber(v, 10, n))
            o.replies = static_cast<int>(n);
        else {
            std::fprintf(stderr,
                         "usage: tether-sim [--bind ADDR] [--discovery-port N] [--control-port N]\n"
                         "  [--name T] [--manufacturer T] [--version T] [--uid-prefix T]\n"
                         "  [--serial N] [--caps N] [--replies N] [--silent] [--fast]\n"
                         "stdin: send TYPE SUB HEX | raw HEX | close | quit\n");
            return false;
        }
    }
    return true;
}

SimDevice::SimDevice(SimOptions options) : options_(std::move(options)) {}

bool SimDevice::open() {
    const auto bind = net::parseIpv4(options_.bindAddress);
    if (!bind) {
        std::fprintf(stderr, "bad --bind address\n");
        return false;
    }
    udp_.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY); // broadcasts arrive on the wildcard
    local.sin_port = htons(options_.discoveryPort);
    socklen_t len = sizeof local;
    if (!udp_ || ::bind(udp_.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::getsockname(udp_.get(), reinterpret_cast<sockaddr*>(&local), &len) != 0) {
        std::perror("discovery socket");
        return false;
    }
    net::TcpListener listener = net::listenTcp(1, *bind);
    if (!listener.fd) {
        std::perror("control listener");
        return false;
    }
    if (options_.controlPort != 0) {
        // A fixed port was asked for: rebind there.
        listener.fd.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const int on = 1;
        ::setsockopt(listener.fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in c{};
        c.sin_family = AF_INET;
        c.sin_addr = *bind;
        c.sin_port = htons(options_.controlPort);
        if (::bind(listener.fd.get(), reinterpret_cast<sockaddr*>(&c), sizeof c) != 0 ||
            ::listen(listener.fd.get(), 1) != 0) {
            std::perror("control listener");
            return false;
        }
        listener.port = options_.controlPort;
    }
    listener_ = std::move(listener.fd);
    controlPort_ = listener.port;
    log("ready discovery=" + std::to_string(ntohs(local.sin_port)) +
        " control=" + std::to_string(controlPort_));
    return true;
}

int SimDevice::run() {
    if (!open()) return 1;
    std::string pendingInput;
    for (;;) {
        std::vector<pollfd> fds = {{STDIN_FILENO, POLLIN, 0},    {udp_.get(), POLLIN, 0},
                                   {listener_.get(), POLLIN, 0}, {control_.get(), POLLIN, 0},
                                   {out_.fd.get(), POLLIN, 0},   {in_.fd.get(), POLLOUT, 0}};
        if (out_.paused) fds[4].events = 0;
        if (in_.paused) fds[5].events = 0;
        const bool audio = (out_.fd && !out_.paused) || (in_.fd && !in_.paused);
        ::poll(fds.data(), fds.size(), audio ? 5 : 50);

        if (fds[0].revents) {
            char buf[4096];
            const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            if (n <= 0) return 0;
            pendingInput.append(buf, static_cast<size_t>(n));
            for (size_t nl; (nl = pendingInput.find('\n')) != std::string::npos;) {
                const std::string line = pendingInput.substr(0, nl);
                pendingInput.erase(0, nl + 1);
                if (!command(line)) return 0;
            }
        }
        if (fds[1].revents) answerDiscovery();
        if (fds[2].revents) acceptControl();
        if (control_ && fds[3].revents) readControl();
        moveAudio();
        if (control_ && !options_.silent && Clock::now() >= nextState_) {
            nextState_ = Clock::now() + kStateInterval;
            sendState();
        }
    }
}

void SimDevice::answerDiscovery() {
    char buf[64];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n =
        ::recvfrom(udp_.get(), buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n <= 0) return;
    const auto port = tether::parseDiscoveryDatagram(Bytes(buf, static_cast<size_t>(n)));
    if (!port) return;
    log("discovery from " + net::ipv4Text(from.sin_addr) + ":" + std::to_string(*port));
    tether::DiscoveryReply reply;
    reply.controlPort = controlPort_;
    reply.serial = options_.serial;
    reply.caps = options_.caps;
    reply.image = options_.image;
    reply.status = options_.status;
    reply.manufacturer = options_.manufacturer;
    reply.uidPrefix = options_.uidPrefix;
    reply.version = options_.version;
    reply.name = options_.name;
    const Bytes bytes = tether::encodeReply(reply);
    for (int i = 0; i < options_.replies; ++i) {
        UniqueFd fd = net::connectTcp(from.sin_addr, *port, 2000);
        if (fd) net::sendAll(fd.get(), bytes.data(), bytes.size());
    }
}

void SimDevice::acceptControl() {
    sockaddr_in from{};
    socklen_t len = sizeof from;
    UniqueFd fd(::accept4(listener_.get(), reinterpret_cast<sockaddr*>(&from), &len, SOCK_CLOEXEC));
    if (!fd) return;
    if (control_) return; // one controller at a time
    control_ = std::move(fd);
    host_ = from.sin_addr;
    reader_ = {};
    log("control connected from " + net::ipv4Text(host_));
}

void SimDevice::closeControl(const char* why) {
    control_.reset();
    stopAudio(out_, "audio-out");
    stopAudio(in_, "audio-in");
    log(std::string("control closed ") + why);
}

void SimDevice::readControl() {
    char buf[8192];
    const ssize_t n = ::recv(control_.get(), buf, sizeof buf, 0);
    if (n <= 0) {
        closeControl("by host");
        return;
    }
    reader_.feed(buf, static_cast<size_t>(n));
    tether::Message m;
    for (;;) {
        const auto r = reader_.next(m);
        if (r == tether::MessageReader::Result::NeedMore) break;
        if (r == tether::MessageReader::Result::Invalid) {
            closeControl("after a bad frame");
            return;
        }
        handle(m);
        if (!control_) return;
    }
}

void SimDevice::handle(const tether::Message& m) {
    switch (m.type) {
    case tether::kKeepAlive:
        if (m.sub == 0) {
            log("ping");
            if (!options_.silent) sendFrame(tether::kKeepAlive, 0, {});
        } else if (m.sub == 1 && !m.payload.empty()) {
            log("keepalive " + std::to_string(static_cast<uint8_t>(m.payload[0])));
        }
        break;
    case tether::kMidi: {
        log("midi " + hexEncode(m.payload));
        if (options_.silent || m.payload.size() < 4) break;
        Bytes echo;
        tether::appendU32(echo, ++midiStamp_);
        echo.append(m.payload, 4);
        sendFrame(tether::kMidi, 0, echo);
        break;
    }
    case tether::kAudio:
        audioCommand(m.sub, m.payload);
        break;
    default:
        log("message " + std::to_string(m.type) + " " + std::to_string(m.sub));
        break;
    }
}

void SimDevice::audioCommand(uint8_t sub, const Bytes& payload) {
    const auto* p = reinterpret_cast<const uint8_t*>(payload.data());
    const auto port = [&] { return payload.size() >= 2 ? tether::readU16(p) : uint16_t(0); };
    switch (sub) {
    case tether::kOutputStart:
        startAudio(out_, "audio-out", port());
        break;
    case tether::kOutputPause:
        out_.paused = true;
        log("audio-out pause");
        break;
    case tether::kOutputStop:
        stopAudio(out_, "audio-out");
        break;
    case tether::kInputStart:
        startAudio(in_, "audio-in", port());
        break;
    case tether::kInputPause:
        in_.paused = true;
        log("audio-in pause");
        break;
    case tether::kInputStop:
        stopAudio(in_, "audio-in");
        break;
    case tether::kOutputVolume:
        if (!payload.empty()) volumeOut_ = p[0];
        log("volume out " + std::to_string(volumeOut_));
        break;
    case tether::kInputVolume:
        if (!payload.empty()) volumeIn_ = p[0];
        log("volume in " + std::to_string(volumeIn_));
        break;
    case tether::kInputMode:
        log("inputmode " + std::to_string(payload.empty() ? -1 : p[0]));
        break;
    default:
        log("audio " + std::to_string(sub));
        break;
    }
}

void SimDevice::startAudio(AudioLink& link, const char* name, uint16_t port) {
    if (link.fd) {
        // Start on a paused stream resumes it.
        if (link.paused) {
            link.paused = false;
            link.allowanceBase = link.bytes;
            link.since = Clock::now();
            log(std::string(name) + " resume");
        }
        return;
    }
    link = AudioLink{};
    link.fd = net::connectTcp(host_, port, 2000);
    if (!link.fd) {
        log(std::string(name) + " connect failed");
        return;
    }
    ::fcntl(link.fd.get(), F_SETFL, O_NONBLOCK);
    link.since = Clock::now();
    log(std::string(name) + " start");
}

void SimDevice::stopAudio(AudioLink& link, const char* name) {
    if (!link.fd) return;
    link.fd.reset();
    log(std::string(name) + " stop bytes=" + std::to_string(link.bytes));
    link = AudioLink{};
}

uint64_t SimDevice::allowance(const AudioLink& link) const {
    if (!options_.realTime) return UINT64_MAX;
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - link.since);
    const uint64_t due =
        link.allowanceBase + static_cast<uint64_t>(elapsed.count()) * kBytesPerSecond / 1000000;
    return due > link.bytes ? due - link.bytes : 0;
}

void SimDevice::moveAudio() {
    if (out_.fd && !out_.paused) {
        char buf[8192];
        const uint64_t may = std::min<uint64_t>(allowance(out_), sizeof buf);
        if (may > 0) {
            const ssize_t n = ::recv(out_.fd.get(), buf, may, MSG_DONTWAIT);
            if (n > 0)
                out_.bytes += static_cast<uint64_t>(n);
            else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                log("audio-out closed by host bytes=" + std::to_string(out_.bytes));
                out_ = AudioLink{};
            }
        }
    }
    if (in_.fd && !in_.paused) {
        uint8_t buf[4096];
        const uint64_t may = std::min<uint64_t>(allowance(in_), sizeof buf) & ~uint64_t(3);
        if (may > 0) {
            // Whatever was not taken last time is sent again from the same frame.
            const uint64_t first = in_.bytes / 4;
            for (uint64_t i = 0; i < may / 4; ++i)
                patternFrame(first + i, buf + 4 * i);
            const ssize_t n = ::send(in_.fd.get(), buf, may, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n > 0) {
                // Only whole frames count, so the pattern stays aligned.
                in_.bytes += static_cast<uint64_t>(n);
                if (n % 4) {
                    const size_t rest = 4 - static_cast<size_t>(n % 4);
                    net::sendAll(in_.fd.get(), buf + n, rest);
                    in_.bytes += rest;
                }
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                log("audio-in closed by host bytes=" + std::to_string(in_.bytes));
                in_ = AudioLink{};
            }
        }
    }
}

void SimDevice::sendFrame(uint8_t type, uint8_t sub, const Bytes& payload) {
    if (!control_) return;
    const Bytes frame = tether::encodeMessage(type, sub, payload);
    if (!net::sendAll(control_.get(), frame.data(), frame.size())) closeControl("on a send error");
}

void SimDevice::sendState() {
    tether::StateBlock out, in;
    out.status = out_.fd ? (out_.paused ? 2 : 1) : 0;
    out.volume = volumeOut_;
    out.left = out_.fd && !out_.paused ? -6 : -120;
    out.right = out_.fd && !out_.paused ? -7 : -120;
    out.position = static_cast<uint32_t>(out_.bytes / 4);
    in.status = in_.fd ? (in_.paused ? 2 : 1) : 0;
    in.volume = volumeIn_;
    in.left = in_.fd && !in_.paused ? -3 : -120;
    in.right = in_.fd && !in_.paused ? -4 : -120;
    in.position = static_cast<uint32_t>(in_.bytes / 4);
    sendFrame(tether::kState, 0, out.encode() + in.encode());
}

bool SimDevice::command(const std::string& line) {
    std::istringstream words(line);
    std::string verb;
    words >> verb;
    if (verb == "quit") return false;
    if (verb == "close") {
        if (control_) closeControl("by command");
    } else if (verb == "raw") {
        std::string hex;
        words >> hex;
        const Bytes bytes = hexDecode(hex);
        if (control_) net::sendAll(control_.get(), bytes.data(), bytes.size());
    } else if (verb == "send") {
        unsigned type = 0, sub = 0;
        std::string hex;
        words >> type >> sub >> hex;
        sendFrame(static_cast<uint8_t>(type), static_cast<uint8_t>(sub), hexDecode(hex));
    } else if (!verb.empty()) {
        log("unknown command " + verb);
    }
    return true;
}

} // namespace kx5::tethersim
