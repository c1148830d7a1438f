// Small BSD-socket helpers shared by the network services: every descriptor
// is close-on-exec (so shell children never inherit a connection) and every
// blocking wait can be interrupted through a WakeEvent.
#pragma once

#include "bridge/unique_fd.h"

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace kx5::net {

// An eventfd another thread signals to end a poll() early.
class WakeEvent {
  public:
    WakeEvent();
    void signal() const;
    void clear() const;
    int fd() const { return fd_.get(); }

  private:
    UniqueFd fd_;
};

// Dotted IPv4 text as inet_aton reads it (no name lookup).
std::optional<in_addr> parseIpv4(const std::string& text);
std::string ipv4Text(in_addr address);

// Connects a TCP socket, waiting at most timeoutMs (or until wake is
// signalled). Returns a connected, blocking socket; an empty one on failure.
UniqueFd connectTcp(in_addr address, uint16_t port, int timeoutMs, const WakeEvent* wake = nullptr);

struct TcpListener {
    UniqueFd fd;
    uint16_t port = 0;
};
// A listening socket on an ephemeral port of the given address.
TcpListener listenTcp(int backlog, in_addr address = in_addr{htonl(INADDR_ANY)});

// Sends every byte (no SIGPIPE); false when the socket failed first.
bool sendAll(int fd, const void* data, size_t size);

enum class WaitResult { Ready, Woken, TimedOut, Failed };
// Waits until fd is readable; timeoutMs < 0 waits without limit.
WaitResult waitReadable(int fd, const WakeEvent* wake, int timeoutMs);

// Limits how long a blocking send may stall (a peer that stops reading).
void setSendTimeout(int fd, int milliseconds);

} // namespace kx5::net
