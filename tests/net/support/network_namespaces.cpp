#include "tests/net/support/network_namespaces.h"

#include "tests/support/child_process.h"

#include <unistd.h>

namespace kx5::test {
namespace {

std::string uniqueTag() {
    static int counter = 0;
    return std::to_string(::getpid() % 100000) + "x" + std::to_string(counter++);
}

} // namespace

std::optional<std::string> NetworkNamespaces::unavailable() {
    if (::geteuid() != 0) return "network namespaces need root";
    const std::string probe = "kx5probe" + uniqueTag();
    if (runCommand({"ip", "netns", "add", probe}) != 0)
        return "\"ip netns add\" does not work here";
    runCommand({"ip", "netns", "del", probe});
    return std::nullopt;
}

NetworkNamespaces::NetworkNamespaces() = default;

NetworkNamespaces::~NetworkNamespaces() {
    // Deleting a namespace removes its interfaces; veth peers go with them.
    for (const auto& n : names_)
        runCommand({"ip", "netns", "del", n});
}

std::string NetworkNamespaces::add(const std::string& role) {
    const std::string name = "kx5" + role + uniqueTag();
    if (runCommand({"ip", "netns", "add", name}) != 0) {
        ok_ = false;
        return name;
    }
    names_.push_back(name);
    ok_ &= runCommand({"ip", "-n", name, "link", "set", "lo", "up"}) == 0;
    return name;
}

std::pair<std::string, std::string> NetworkNamespaces::link(const std::string& a,
                                                            const std::string& b) {
    const int n = links_++;
    const std::string va = "kx5a" + std::to_string(n), vb = "kx5b" + std::to_string(n);
    const std::string net = "10.213." + std::to_string(10 + n) + ".";
    const std::pair<std::string, std::string> addresses{net + "1", net + "2"};
    ok_ &= runCommand({"ip", "-n", a, "link", "add", va, "type", "veth", "peer", "name", vb,
                       "netns", b}) == 0;
    ok_ &= runCommand(
               {"ip", "-n", a, "addr", "add", addresses.first + "/24", "brd", "+", "dev", va}) == 0;
    ok_ &= runCommand({"ip", "-n", b, "addr", "add", addresses.second + "/24", "brd", "+", "dev",
                       vb}) == 0;
    ok_ &= runCommand({"ip", "-n", a, "link", "set", va, "up"}) == 0;
    ok_ &= runCommand({"ip", "-n", b, "link", "set", vb, "up"}) == 0;
    return addresses;
}

std::vector<std::string> NetworkNamespaces::inside(const std::string& name) {
    return {"ip", "netns", "exec", name};
}

} // namespace kx5::test
