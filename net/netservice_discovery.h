// DNS-SD browsing for one service type in the "local" domain through the
// Avahi daemon: every instance is reported once per browse with its IPv4
// address and port.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

struct AvahiThreadedPoll;
struct AvahiClient;
struct AvahiServiceBrowser;
struct AvahiServiceResolver;

namespace kx5 {

class NetServiceDiscoveryDelegate {
  public:
    virtual ~NetServiceDiscoveryDelegate() = default;
    virtual void resolved(const std::string& name, const std::string& address, uint16_t port) = 0;
    // code 0 after stop(); otherwise the Avahi error code that ended the browse.
    virtual void stopped(long code) = 0;
};

class NetServiceDiscovery {
  public:
    explicit NetServiceDiscovery(std::unique_ptr<NetServiceDiscoveryDelegate> delegate);
    // Ends a running browse without reporting it.
    ~NetServiceDiscovery();
    NetServiceDiscovery(const NetServiceDiscovery&) = delete;
    NetServiceDiscovery& operator=(const NetServiceDiscovery&) = delete;

    // type: service name and protocol followed by a dot ("_http._tcp.").
    // False when a browse is already running; a browse that cannot start is
    // reported at once by stopped(code).
    bool search(const std::string& type);
    void stop();

    // Avahi callbacks (event-loop thread, loop lock held).
    void onClientFailed(int error);
    void onNewInstance(int interface, int protocol, const char* name, const char* type,
                       const char* domain);
    void onBrowseFailed(int error);
    void onResolved(AvahiServiceResolver* resolver, const char* name, const char* address,
                    uint16_t port);

  private:
    // Loop lock held.
    int ensureClientLocked();
    void endBrowseLocked(long code);
    void dropResolverLocked(AvahiServiceResolver* resolver);

    std::unique_ptr<NetServiceDiscoveryDelegate> delegate_;
    AvahiThreadedPoll* poll_ = nullptr;
    AvahiClient* client_ = nullptr;
    bool clientFailed_ = false;
    AvahiServiceBrowser* browser_ = nullptr;
    std::vector<AvahiServiceResolver*> resolvers_;
    std::set<std::string> reported_;
};

} // namespace kx5
