// Network namespaces a test creates for traffic that must not reach the
// machine's real interfaces (broadcast, multicast), removed again when the
// object goes.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kx5::test {

class NetworkNamespaces {
  public:
    // Why namespaces cannot be made here, or nullopt when they can.
    static std::optional<std::string> unavailable();

    NetworkNamespaces();
    ~NetworkNamespaces();
    NetworkNamespaces(const NetworkNamespaces&) = delete;
    NetworkNamespaces& operator=(const NetworkNamespaces&) = delete;

    // A new namespace with its loopback up; its name.
    std::string add(const std::string& role);
    // A veth pair from namespace a (address .1) to namespace b (address .2)
    // on a /24 of its own; the two addresses. a and b may be the same.
    std::pair<std::string, std::string> link(const std::string& a, const std::string& b);
    // The words that run a program inside a namespace.
    static std::vector<std::string> inside(const std::string& name);
    bool ok() const { return ok_; }

  private:
    std::vector<std::string> names_;
    int links_ = 0;
    bool ok_ = true;
};

} // namespace kx5::test
