#include "net/tether_connection.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <vector>

namespace kx5 {
namespace {

namespace tether = net::tether;
using Clock = std::chrono::steady_clock;

constexpr auto kKeepAliveInterval = std::chrono::seconds(1);
constexpr int kSendStallMs = 5000;
constexpr size_t kReceiveBytes = 32768;
constexpr float kSilenceDb = -120.0f;

} // namespace

TetherConnection::TetherConnection() {
    resetDeviceState();
}

TetherConnection::~TetherConnection() {
    if (release_) release_();
    disconnect();
}

void TetherConnection::connect(const TetherDevice& device) {
    disconnect();
    {
        std::lock_guard lock(deviceMutex_);
        device_ = device;
    }
    const auto address = net::parseIpv4(device.address);
    const in_addr peer = address.value_or(in_addr{htonl(INADDR_NONE)});
    output_.open(peer);
    input_.open(peer);
    running_ = true;
    const bool valid = address && device.port > 0 && device.port <= 65535;
    thread_ = std::thread([this, device, peer, valid, timeoutMs = timeout_ * 1000] {
        run(device, valid ? peer : in_addr{}, valid ? static_cast<uint16_t>(device.port) : 0,
            timeoutMs);
    });
}

void TetherConnection::disconnect() {
    running_ = false;
    wake_.signal();
    shutDownSocket();
    if (thread_.joinable()) thread_.join();
    wake_.clear();
    output_.close();
    input_.close();
    resetDeviceState();
    std::lock_guard lock(deviceMutex_);
    device_.reset();
}

std::optional<TetherDevice> TetherConnection::device() const {
    std::lock_guard lock(deviceMutex_);
    return device_;
}

void TetherConnection::run(TetherDevice device, in_addr address, uint16_t port, int timeoutMs) {
    UniqueFd fd;
    if (port != 0) fd = net::connectTcp(address, port, timeoutMs, &wake_);
    if (!fd) {
        if (running_.exchange(false) && delegate_) delegate_->connectFailed(device);
        return;
    }
    net::setSendTimeout(fd.get(), kSendStallMs);
    {
        std::lock_guard lock(socketMutex_);
        socket_ = fd.get();
    }
    if (running_) {
        misses_ = 0;
        connected_ = true;
        if (delegate_) delegate_->connected(device);
        serve(fd.get());
    }
    {
        std::lock_guard lock(socketMutex_);
        socket_ = -1;
    }
    fd.reset();
    connected_ = false;
    if (running_.exchange(false) && delegate_) delegate_->closed(device);
}

void TetherConnection::serve(int socket) {
    tether::MessageReader reader;
    std::vector<char> buffer(kReceiveBytes);
    auto nextTick = Clock::now() + kKeepAliveInterval;
    for (;;) {
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(nextTick - Clock::now());
        const auto result = net::waitReadable(socket, &wake_, std::max<int>(0, wait.count()));
        if (result == net::WaitResult::Woken || result == net::WaitResult::Failed) return;
        if (Clock::now() >= nextTick) {
            while (Clock::now() >= nextTick)
                nextTick += kKeepAliveInterval;
            const int32_t count = keepAlive_;
            if (count > 0) {
                sendControl(tether::kKeepAlive, 0);
                if (++misses_ > count) return; // the device has gone quiet
            }
        }
        if (result != net::WaitResult::Ready) continue;
        const ssize_t n =
            ::recv(socket, buffer.data(), std::min(buffer.size(), reader.room()), MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) return;
        reader.feed(buffer.data(), static_cast<size_t>(n));
        tether::Message message;
        for (;;) {
            const auto r = reader.next(message);
            if (r == tether::MessageReader::Result::Invalid) return;
            if (r == tether::MessageReader::Result::NeedMore) break;
            misses_ = 0;
            handle(message);
        }
    }
}

void TetherConnection::handle(const tether::Message& m) {
    const auto* p = reinterpret_cast<const uint8_t*>(m.payload.data());
    switch (m.type) {
    case tether::kKeepAlive:
        if (m.sub == 1 && !m.payload.empty()) keepAlive_ = p[0];
        break;
    case tether::kDeviceValue:
        if (m.sub < deviceValues_.size() && m.payload.size() >= 4) {
            std::lock_guard lock(stateMutex_);
            deviceValues_[m.sub] = tether::readU32(p);
        }
        break;
    case tether::kMidi:
        midiIn_.read(m.payload, [this](const Bytes& message, uint32_t timeStamp) {
            if (delegate_) delegate_->midiMessage(message, timeStamp);
        });
        break;
    case tether::kState:
        if (m.payload.size() >= 32) {
            std::lock_guard lock(stateMutex_);
            outputState_ = tether::StateBlock::decode(p);
            inputState_ = tether::StateBlock::decode(p + 16);
            const int8_t levels[4] = {outputState_.left, outputState_.right, inputState_.left,
                                      inputState_.right};
            for (int i = 0; i < 4; ++i)
                heldPeaks_[i] = std::max(heldPeaks_[i], static_cast<float>(levels[i]));
        }
        break;
    default:
        break;
    }
}

bool TetherConnection::sendControl(uint8_t type, uint8_t sub, const Bytes& payload) {
    const Bytes frame = tether::encodeMessage(type, sub, payload);
    std::lock_guard lock(socketMutex_);
    if (socket_ < 0) return false;
    if (net::sendAll(socket_, frame.data(), frame.size())) return true;
    // A device that takes nothing more is gone; the reader reports it.
    ::shutdown(socket_, SHUT_RDWR);
    return false;
}

void TetherConnection::shutDownSocket() {
    std::lock_guard lock(socketMutex_);
    if (socket_ >= 0) ::shutdown(socket_, SHUT_RDWR);
}

tether::StateBlock TetherConnection::state(bool output) const {
    std::lock_guard lock(stateMutex_);
    return output ? outputState_ : inputState_;
}

float TetherConnection::takePeak(int index) {
    if (index < 0 || index > 3) return 0;
    std::lock_guard lock(stateMutex_);
    const int8_t levels[4] = {outputState_.left, outputState_.right, inputState_.left,
                              inputState_.right};
    const float held = heldPeaks_[index];
    heldPeaks_[index] = levels[index];
    return held;
}

void TetherConnection::resetDeviceState() {
    std::lock_guard lock(stateMutex_);
    deviceValues_.fill(0);
    // Until the device reports, its levels read as silence.
    outputState_ = {};
    inputState_ = {};
    outputState_.left = outputState_.right = inputState_.left = inputState_.right =
        static_cast<int8_t>(kSilenceDb);
    heldPeaks_.fill(kSilenceDb);
}

void TetherConnection::sendMidi(const Bytes& message) {
    const Bytes payload = tether::packMidiMessage(message);
    if (!payload.empty()) sendControl(tether::kMidi, 0, payload);
}

void TetherConnection::setInputMode(int32_t mode) {
    input_.setMode(mode);
}

void TetherConnection::setTimeoutSeconds(int32_t seconds) {
    timeout_ = std::clamp<int32_t>(seconds, 0, 3600);
}

void TetherConnection::setKeepAliveCount(int32_t count) {
    keepAlive_ = std::clamp<int32_t>(count, 0, 255);
    sendControl(tether::kKeepAlive, 1, Bytes(1, static_cast<char>(keepAlive_.load())));
}

} // namespace kx5
