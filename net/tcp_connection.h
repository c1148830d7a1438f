// One byte-stream connection of the "tcpip" module: a TCP client socket or a
// serial port, with a reader thread that reports what arrives and, once,
// that the stream has ended.
#pragma once

#include "bridge/encoding.h"
#include "bridge/unique_fd.h"
#include "net/socket_util.h"

#include <netinet/in.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace kx5 {

class TcpConnection {
  public:
    struct Callbacks {
        std::function<void(const Bytes&)> read;
        std::function<void()> closed;
    };

    // Empty when the connection could not be made.
    static std::unique_ptr<TcpConnection> connectTcp(in_addr address, uint16_t port, int timeoutMs);
    static std::unique_ptr<TcpConnection> openSerial(const std::string& devicePath, uint32_t baud);

    // Stops the reader without reporting "closed" and releases the stream.
    ~TcpConnection();
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    void startReader(Callbacks callbacks);
    // Sends every byte; a stream that cannot take them is ended (the reader
    // then reports "closed").
    void write(const Bytes& bytes);
    // Ends the stream; the reader reports "closed".
    void close();
    // True once the reader has reported "closed": the slot may be reused.
    bool finished() const { return finished_; }

  private:
    enum class Kind { Socket, Serial };
    TcpConnection(Kind kind, UniqueFd fd) : kind_(kind), fd_(std::move(fd)) {}
    void run();
    // Serial reads end when the line stays quiet for a short interval.
    ssize_t readSerialBurst(char* buffer, size_t capacity);
    void endStream();

    const Kind kind_;
    UniqueFd fd_;
    net::WakeEvent stop_;
    Callbacks callbacks_;
    std::mutex writeMutex_;
    std::atomic<bool> closing_{false};
    std::atomic<bool> detached_{false};
    std::atomic<bool> finished_{false};
    std::thread reader_;
};

} // namespace kx5
