// Finds Tether devices: a UDP datagram announces a TCP port, and every
// device that hears it connects there and sends one 84-byte reply.
#pragma once

#include "net/socket_util.h"
#include "net/tether_device.h"

#include <netinet/in.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kx5 {

class TetherDiscoveryDelegate {
  public:
    virtual ~TetherDiscoveryDelegate() = default;
    virtual void found(const TetherDevice& device) = 0;
};

struct TetherDiscoveryTarget {
    in_addr address{};
    uint16_t port = 0;
};

class TetherDiscovery {
  public:
    // Where the datagram goes; empty: the broadcast address of every IPv4
    // interface (255.255.255.255 when the interfaces cannot be listed).
    explicit TetherDiscovery(std::vector<TetherDiscoveryTarget> targets = {});
    ~TetherDiscovery();
    TetherDiscovery(const TetherDiscovery&) = delete;
    TetherDiscovery& operator=(const TetherDiscovery&) = delete;

    void setDelegate(TetherDiscoveryDelegate* delegate) { delegate_ = delegate; }

    // Ends the previous discovery, forgets what it found and starts anew.
    void restart();
    std::vector<TetherDevice> devices() const;

    // "--tether-discovery=ADDR[:PORT][,ADDR[:PORT]...]" among the program's
    // options; the port defaults to the protocol's discovery port. Invalid
    // entries are skipped.
    static std::vector<TetherDiscoveryTarget>
    targetsFromArguments(const std::vector<std::string>& arguments);

  private:
    void stopLocked();
    void run(UniqueFd listener);
    void accept(const std::vector<char>& reply, in_addr peer);
    void announce(uint16_t replyPort) const;

    const std::vector<TetherDiscoveryTarget> targets_;
    TetherDiscoveryDelegate* delegate_ = nullptr;
    std::mutex listenerMutex_;
    net::WakeEvent stop_;
    std::thread thread_;
    mutable std::mutex listMutex_;
    std::vector<TetherDevice> found_;
};

} // namespace kx5
