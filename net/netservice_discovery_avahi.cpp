#include "net/netservice_discovery.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>
#include <avahi-common/thread-watch.h>

#include <algorithm>

namespace kx5 {
namespace {

// Holds the event loop's lock for the calling (non-loop) thread.
class LoopLock {
  public:
    explicit LoopLock(AvahiThreadedPoll* poll) : poll_(poll) {
        if (poll_) avahi_threaded_poll_lock(poll_);
    }
    ~LoopLock() {
        if (poll_) avahi_threaded_poll_unlock(poll_);
    }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

  private:
    AvahiThreadedPoll* poll_;
};

void clientCallback(AvahiClient* client, AvahiClientState state, void* user) {
    if (state == AVAHI_CLIENT_FAILURE)
        static_cast<NetServiceDiscovery*>(user)->onClientFailed(avahi_client_errno(client));
}

void browseCallback(AvahiServiceBrowser* browser, AvahiIfIndex interface, AvahiProtocol protocol,
                    AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
                    AvahiLookupResultFlags, void* user) {
    auto* self = static_cast<NetServiceDiscovery*>(user);
    if (event == AVAHI_BROWSER_NEW)
        self->onNewInstance(interface, protocol, name, type, domain);
    else if (event == AVAHI_BROWSER_FAILURE)
        self->onBrowseFailed(avahi_client_errno(avahi_service_browser_get_client(browser)));
}

void resolveCallback(AvahiServiceResolver* resolver, AvahiIfIndex, AvahiProtocol,
                     AvahiResolverEvent event, const char* name, const char*, const char*,
                     const char*, const AvahiAddress* address, uint16_t port, AvahiStringList*,
                     AvahiLookupResultFlags, void* user) {
    auto* self = static_cast<NetServiceDiscovery*>(user);
    char text[AVAHI_ADDRESS_STR_MAX] = {};
    const bool ipv4 =
        event == AVAHI_RESOLVER_FOUND && address && address->proto == AVAHI_PROTO_INET;
    if (ipv4) avahi_address_snprint(text, sizeof text, address);
    self->onResolved(resolver, name, ipv4 ? text : nullptr, ipv4 ? port : 0);
}

} // namespace

NetServiceDiscovery::NetServiceDiscovery(std::unique_ptr<NetServiceDiscoveryDelegate> delegate)
    : delegate_(std::move(delegate)), poll_(avahi_threaded_poll_new()) {
    if (poll_ && avahi_threaded_poll_start(poll_) != 0) {
        avahi_threaded_poll_free(poll_);
        poll_ = nullptr;
    }
}

NetServiceDiscovery::~NetServiceDiscovery() {
    if (!poll_) return;
    avahi_threaded_poll_stop(poll_);
    // Freeing the client frees its browser and resolvers.
    if (client_) avahi_client_free(client_);
    avahi_threaded_poll_free(poll_);
}

int NetServiceDiscovery::ensureClientLocked() {
    if (client_ && clientFailed_) {
        avahi_client_free(client_);
        client_ = nullptr;
        browser_ = nullptr;
        resolvers_.clear();
    }
    clientFailed_ = false;
    if (client_) return 0;
    int error = 0;
    client_ = avahi_client_new(avahi_threaded_poll_get(poll_), AvahiClientFlags(0), clientCallback,
                               this, &error);
    return client_ ? 0 : error;
}

bool NetServiceDiscovery::search(const std::string& type) {
    if (!poll_) {
        delegate_->stopped(AVAHI_ERR_NO_MEMORY);
        return true;
    }
    LoopLock lock(poll_);
    if (browser_) return false;
    if (const int error = ensureClientLocked()) {
        endBrowseLocked(error);
        return true;
    }
    // The page names the type with its trailing dot; the browse is for
    // type + "local", which Avahi takes as type and domain.
    std::string query = type + "local";
    std::string domain;
    if (query.size() > 6 && query.compare(query.size() - 6, 6, ".local") == 0) {
        query.resize(query.size() - 6);
        domain = "local";
    }
    browser_ = avahi_service_browser_new(client_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                         query.c_str(), domain.empty() ? nullptr : domain.c_str(),
                                         AvahiLookupFlags(0), browseCallback, this);
    if (!browser_) endBrowseLocked(avahi_client_errno(client_));
    return true;
}

void NetServiceDiscovery::stop() {
    if (!poll_) return;
    LoopLock lock(poll_);
    if (browser_) endBrowseLocked(0);
}

void NetServiceDiscovery::endBrowseLocked(long code) {
    for (auto* r : resolvers_)
        avahi_service_resolver_free(r);
    resolvers_.clear();
    if (browser_) avahi_service_browser_free(browser_);
    browser_ = nullptr;
    reported_.clear();
    delegate_->stopped(code);
}

void NetServiceDiscovery::onClientFailed(int error) {
    clientFailed_ = true;
    if (browser_) endBrowseLocked(error);
}

void NetServiceDiscovery::onBrowseFailed(int error) {
    if (browser_) endBrowseLocked(error);
}

void NetServiceDiscovery::onNewInstance(int interface, int protocol, const char* name,
                                        const char* type, const char* domain) {
    if (!browser_ || reported_.count(name)) return;
    // Only IPv4 addresses are reported, whatever protocol carried the record.
    if (auto* r = avahi_service_resolver_new(client_, interface, protocol, name, type, domain,
                                             AVAHI_PROTO_INET, AvahiLookupFlags(0), resolveCallback,
                                             this))
        resolvers_.push_back(r);
}

void NetServiceDiscovery::onResolved(AvahiServiceResolver* resolver, const char* name,
                                     const char* address, uint16_t port) {
    dropResolverLocked(resolver);
    if (!browser_ || !address || port == 0 || !name || reported_.count(name)) return;
    reported_.insert(name);
    delegate_->resolved(name, address, port);
}

void NetServiceDiscovery::dropResolverLocked(AvahiServiceResolver* resolver) {
    auto it = std::find(resolvers_.begin(), resolvers_.end(), resolver);
    if (it == resolvers_.end()) return;
    resolvers_.erase(it);
    avahi_service_resolver_free(resolver);
}

} // namespace kx5
