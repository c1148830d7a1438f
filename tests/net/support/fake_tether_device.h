// The device end of a Tether control connection, driven by the test.
#pragma once

#include "bridge/unique_fd.h"
#include "net/tether_protocol.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kx5::test {

// Connects to 127.0.0.1:port (from the given source address).
UniqueFd connectLoopback(uint16_t port, const char* source = "127.0.0.1");

class FakeTetherDevice {
  public:
    FakeTetherDevice();
    uint16_t port() const { return port_; }
    bool accept();
    // The next message; keep-alive pings are skipped unless asked for.
    std::optional<net::tether::Message> read(bool withPings = false);
    // True when the host closed the connection (within a generous limit).
    bool seesClose();
    void send(uint8_t type, uint8_t sub, const Bytes& payload = {});
    void sendRaw(const Bytes& bytes);
    void close() { connection_.reset(); }
    int pingsSeen() const { return pings_; }

  private:
    UniqueFd listener_;
    UniqueFd connection_;
    uint16_t port_ = 0;
    net::tether::MessageReader reader_;
    int pings_ = 0;
};

} // namespace kx5::test
