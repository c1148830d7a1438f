#include "net/tether_audio_stream.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cmath>
#include <cstring>

namespace kx5 {
namespace {

namespace tether = net::tether;
using Clock = std::chrono::steady_clock;

constexpr auto kStopWaitStep = std::chrono::milliseconds(100);
// How long a stop waits for the stream thread, and how long an input stream
// leaves its connection to the device after a stop before closing it itself.
constexpr auto kStopWaitLimit = std::chrono::seconds(5);
constexpr auto kDeviceCloseLimit = std::chrono::seconds(3);

Bytes portPayload(uint16_t port) {
    Bytes b;
    tether::appendU16(b, port);
    return b;
}

} // namespace

TetherAudioServer::TetherAudioServer(TetherStreamControl& control, bool output)
    : control_(control), output_(output) {}

TetherAudioServer::~TetherAudioServer() {
    close();
}

void TetherAudioServer::open(in_addr peer) {
    close();
    net::TcpListener listener = net::listenTcp(5);
    if (!listener.fd) return;
    port_ = listener.port;
    thread_ = std::thread(
        [this, fd = std::move(listener.fd), peer]() mutable { run(std::move(fd), peer); });
}

void TetherAudioServer::close() {
    if (!thread_.joinable()) return;
    stop_.signal();
    thread_.join();
    stop_.clear();
    port_ = 0;
}

void TetherAudioServer::run(UniqueFd listener, in_addr peer) {
    threadId_ = std::this_thread::get_id();
    for (;;) {
        if (net::waitReadable(listener.get(), &stop_, -1) != net::WaitResult::Ready) break;
        sockaddr_in from{};
        socklen_t len = sizeof from;
        UniqueFd socket(::accept4(listener.get(), reinterpret_cast<sockaddr*>(&from), &len,
                                  SOCK_NONBLOCK | SOCK_CLOEXEC));
        // Audio comes from the connected device and from nobody else.
        if (!socket || from.sin_addr.s_addr != peer.s_addr) continue;
        serve(std::move(socket));
    }
    // The listener goes: a stream still running has stopped.
    if (running_.exchange(false)) {
        std::lock_guard lock(clientMutex_);
        connectionEnded(true);
    }
}

void TetherAudioServer::serve(UniqueFd socket) {
    {
        std::lock_guard lock(socketMutex_);
        socket_ = socket.get();
    }
    shutDown_ = false;
    {
        std::lock_guard lock(deadlineMutex_);
        deadlineArmed_ = false;
    }
    {
        std::lock_guard lock(clientMutex_);
        fill_ = offset_ = 0;
    }
    connected_ = true;
    while (!shutDown_) {
        const bool pumping = output_ && running_;
        int timeoutMs = -1;
        {
            std::lock_guard lock(deadlineMutex_);
            if (deadlineArmed_) {
                const auto left = closeDeadline_ - Clock::now();
                if (left <= Clock::duration::zero()) break;
                timeoutMs =
                    static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
            }
        }
        pollfd fds[3] = {{socket.get(), static_cast<short>(pumping ? POLLOUT : POLLIN), 0},
                         {stop_.fd(), POLLIN, 0},
                         {kick_.fd(), POLLIN, 0}};
        const int ready = ::poll(fds, 3, timeoutMs);
        if (ready < 0 && errno != EINTR) break;
        if (fds[1].revents & POLLIN) break;
        if (fds[2].revents & POLLIN) kick_.clear();
        if (!fds[0].revents || shutDown_) continue;
        if (!pumping && !running_) {
            // Nobody wants the data now; only an end of the connection matters.
            char scratch[4096];
            const ssize_t n = ::recv(socket.get(), scratch, sizeof scratch, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
            continue;
        }
        std::lock_guard lock(clientMutex_);
        if (!transfer(socket.get())) break;
    }
    {
        std::lock_guard lock(socketMutex_);
        socket_ = -1;
    }
    socket.reset();
    connected_ = false;
    const bool wasRunning = running_.exchange(false);
    std::lock_guard lock(clientMutex_);
    connectionEnded(wasRunning);
}

void TetherAudioServer::startStream() {
    running_ = true;
    {
        std::lock_guard lock(deadlineMutex_);
        deadlineArmed_ = false;
    }
    control_.sendControl(tether::kAudio, output_ ? tether::kOutputStart : tether::kInputStart,
                         portPayload(port_));
    kick_.signal();
}

void TetherAudioServer::shutDownAndWait() {
    running_ = false;
    shutDown_ = true;
    {
        std::lock_guard lock(socketMutex_);
        if (socket_ >= 0) ::shutdown(socket_, SHUT_RDWR);
    }
    kick_.signal();
    if (onStreamThread()) return;
    const auto limit = Clock::now() + kStopWaitLimit;
    while (connected_ && Clock::now() < limit)
        std::this_thread::sleep_for(kStopWaitStep);
}

void TetherAudioServer::awaitDeviceClose() {
    {
        std::lock_guard lock(deadlineMutex_);
        closeDeadline_ = Clock::now() + kDeviceCloseLimit;
        deadlineArmed_ = true;
    }
    kick_.signal();
}

float TetherAudioServer::volumeFromState() const {
    return static_cast<float>(control_.state(output_).volume) / 127.0f;
}

void TetherAudioServer::sendVolume(uint8_t sub, float volume) {
    if (!(volume >= 0.0f && volume <= 1.0f)) return;
    const auto level = static_cast<uint8_t>(std::trunc(volume * 127.0f));
    control_.sendControl(tether::kAudio, sub, Bytes(1, static_cast<char>(level)));
}

int32_t TetherAudioServer::statusFromState() const {
    return running_ && connected_ ? control_.state(output_).status : 0;
}

// Output: the client fills the buffer, the device reads it at its own pace.

void TetherAudioOutputStream::setClient(AudioOutputStreamDelegate* client) {
    if (onStreamThread()) {
        client_ = client;
        return;
    }
    std::lock_guard lock(clientMutex_);
    client_ = client;
}

void TetherAudioOutputStream::start(const std::string&) {
    startStream();
}

void TetherAudioOutputStream::pause() {
    control_.sendControl(tether::kAudio, tether::kOutputPause);
}

void TetherAudioOutputStream::stop() {
    control_.sendControl(tether::kAudio, tether::kOutputStop);
    shutDownAndWait();
}

float TetherAudioOutputStream::peakPower(int32_t channel) {
    if (channel < 0 || channel > 1) return 0;
    return control_.takePeak(channel);
}

float TetherAudioOutputStream::time() const {
    return static_cast<float>(control_.state(true).position) / 44100.0f;
}

bool TetherAudioOutputStream::transfer(int socket) {
    if (offset_ >= fill_) {
        auto* client = client_.load();
        const size_t n = client ? client->fill(buffer_, kBufferBytes) : 0;
        if (!running_ || shutDown_) return true; // the client stopped the stream
        // Without data the device still gets its pace: silence.
        fill_ = n == 0 ? kBufferBytes : std::min(n, kBufferBytes);
        if (n == 0) std::memset(buffer_, 0, kBufferBytes);
        offset_ = 0;
    }
    const ssize_t sent =
        ::send(socket, buffer_ + offset_, fill_ - offset_, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent > 0) offset_ += static_cast<size_t>(sent);
    return sent > 0 || (sent < 0 && (errno == EAGAIN || errno == EINTR));
}

// Input: whole frames go to the client, a split frame waits for its rest.

void TetherAudioInputStream::setClient(AudioInputStreamDelegate* client) {
    if (onStreamThread()) {
        client_ = client;
        return;
    }
    std::lock_guard lock(clientMutex_);
    client_ = client;
}

void TetherAudioInputStream::start(const std::string&) {
    startStream();
}

void TetherAudioInputStream::pause() {
    control_.sendControl(tether::kAudio, tether::kInputPause);
}

void TetherAudioInputStream::stop(bool silent) {
    control_.sendControl(tether::kAudio, tether::kInputStop);
    if (silent) {
        shutDownAndWait();
    } else if (running_ && !connected_) {
        // No audio connection to wait for: the stream has stopped now.
        if (running_.exchange(false)) {
            if (onStreamThread()) {
                connectionEnded(true);
            } else {
                std::lock_guard lock(clientMutex_);
                connectionEnded(true);
            }
        }
    } else if (running_) {
        awaitDeviceClose();
    }
}

void TetherAudioInputStream::setMode(int32_t mode) {
    mode_ = mode;
    control_.sendControl(tether::kAudio, tether::kInputMode,
                         Bytes(1, static_cast<char>(mode & 0xFF)));
}

float TetherAudioInputStream::peakPower(int32_t channel) {
    if (channel < 0 || channel > 1) return 0;
    return control_.takePeak(2 + channel);
}

float TetherAudioInputStream::time() const {
    return static_cast<float>(control_.state(false).position) / 44100.0f;
}

bool TetherAudioInputStream::transfer(int socket) {
    const ssize_t n = ::recv(socket, buffer_ + fill_, kBufferBytes - fill_, MSG_DONTWAIT);
    if (n == 0) return false;
    if (n < 0) return errno == EAGAIN || errno == EINTR;
    fill_ += static_cast<size_t>(n);
    const size_t whole = fill_ - fill_ % 4;
    if (whole > 0) {
        if (auto* client = client_.load(); client && running_) client->data(buffer_, whole);
        std::memmove(buffer_, buffer_ + whole, fill_ - whole);
        fill_ -= whole;
    }
    return true;
}

void TetherAudioInputStream::connectionEnded(bool wasRunning) {
    if (!wasRunning) return;
    if (auto* client = client_.load()) client->stopped();
}

} // namespace kx5
