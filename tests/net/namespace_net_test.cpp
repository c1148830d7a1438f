// Broadcast discovery and multicast DNS-SD run only inside network
// namespaces made here, so nothing reaches the machine's real interfaces.
#include "tests/net/support/network_namespaces.h"
#include "tests/support/console_process.h"
#include "tests/support/temp_dir.h"

#include "net/tether_device.h"

#include <gtest/gtest.h>
#include <picojson.h>

#include <fstream>
#include <thread>

#ifndef TETHER_SIM_PATH
#error "TETHER_SIM_PATH must name the simulated device"
#endif

using namespace kx5;
using test::ConsoleProcess;
using test::NetworkNamespaces;

TEST(NamespaceNet, BroadcastDiscoveryFindsTheDeviceOnTheOtherSide) {
    if (const auto why = NetworkNamespaces::unavailable()) GTEST_SKIP() << *why;
    NetworkNamespaces ns;
    const std::string hostNs = ns.add("h");
    const std::string deviceNs = ns.add("d");
    const auto [hostAddress, deviceAddress] = ns.link(hostNs, deviceNs);
    ASSERT_TRUE(ns.ok());

    std::vector<std::string> simArgv = NetworkNamespaces::inside(deviceNs);
    simArgv.insert(simArgv.end(), {TETHER_SIM_PATH, "--bind", deviceAddress});
    test::ChildProcess sim(simArgv);
    std::string ready;
    ASSERT_TRUE(sim.readLine(ready, 20000));
    {
        // Default targets: the broadcast address of every interface.
        ConsoleProcess console(KX5_EDITOR_PATH, {.prefix = NetworkNamespaces::inside(hostNs)});
        console.call({"$$tether_discovery"});
        const auto found = console.waitForEvent("tether\ffound\f");
        ASSERT_TRUE(found);
        const TetherDevice device = parseTetherDevice((*found)[2]);
        EXPECT_EQ(device.address, deviceAddress);
        console.call({"$$tether_connect", (*found)[2]});
        ASSERT_TRUE(console.waitForEvent("tether\fconnected\f"));
        console.call({"$$tether_send", "B07B00"});
        EXPECT_EQ(console.waitForEvent("tether\fmessage\f")->at(2), "B07B00");
        EXPECT_EQ(console.finish(), 0);
    }
    sim.writeLine("quit");
    EXPECT_EQ(sim.waitExit(10000), 0);
}

namespace {

// A D-Bus system bus of our own and an Avahi daemon on it, inside one
// namespace with two interfaces.
class PrivateAvahi {
  public:
    explicit PrivateAvahi(NetworkNamespaces& ns) {
        name = ns.add("m");
        ns.link(name, name);
        ns.link(name, name);
        if (!ns.ok()) {
            reason = "the namespace could not be set up";
            return;
        }
        std::ofstream(dir.file("bus.conf"))
            << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
               "1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig><type>system</type><listen>unix:path="
            << dir.file("bus")
            << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
               "<allow user=\"*\"/><allow own=\"*\"/><allow send_destination=\"*\"/>"
               "<allow receive_sender=\"*\"/>"
               "</policy></busconfig>\n";
        std::ofstream(dir.file("avahi.conf"))
            << "[server]\nuse-ipv4=yes\nuse-ipv6=no\nallow-interfaces=kx5a0,kx5a1\n"
               "ratelimit-burst=1000\n[wide-area]\nenable-wide-area=no\n"
               "[publish]\npublish-hinfo=no\npublish-workstation=no\n";
        busEnvironment = {{"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + dir.file("bus")}};
        // The daemons read no input.
        const test::ChildProcess::Options daemonOptions{.pipeInput = false};
        bus = std::make_unique<test::ChildProcess>(
            std::vector<std::string>{"sh", "-c",
                                     "exec dbus-daemon --nofork --print-address --config-file=" +
                                         dir.file("bus.conf") + " 2>" + dir.file("bus.log")},
            std::map<std::string, std::string>{}, daemonOptions);
        std::string address;
        if (!bus->started() || !bus->readLine(address, 10000)) {
            reason = "dbus-daemon cannot run here";
            return;
        }
        // The daemon's pid file lives in a /run of its own.
        std::vector<std::string> argv = NetworkNamespaces::inside(name);
        argv.insert(
            argv.end(),
            {"sh", "-c",
             "mount -t tmpfs tmpfs /run && mkdir /run/avahi-daemon && exec avahi-daemon -f " +
                 dir.file("avahi.conf") +
                 " --no-drop-root --no-chroot --no-rlimits --no-proc-title 2>" +
                 dir.file("avahi.log")});
        daemon = std::make_unique<test::ChildProcess>(argv, busEnvironment, daemonOptions);
        if (!daemon->started()) {
            reason = "avahi-daemon cannot run here";
            return;
        }
        if (!logSays("Server startup complete")) {
            reason = "avahi-daemon did not start: " + log();
            return;
        }
        std::vector<std::string> publish = NetworkNamespaces::inside(name);
        // It says on stderr when the service is established.
        publish.insert(
            publish.end(),
            {"sh", "-c", "exec avahi-publish -s 'KX5 Test Unit' _kx5test._tcp 4321 2>&1"});
        publisher = std::make_unique<test::ChildProcess>(publish, busEnvironment, daemonOptions);
        // avahi-publish prints once the service is established.
        std::string line;
        if (!publisher->readLine(line, 15000) || line.find("Established") == std::string::npos) {
            reason = "the test service was not published (" + (line.empty() ? "no answer" : line) +
                     "); daemon: " + log();
        }
    }
    std::string log() const {
        std::ifstream in(dir.file("avahi.log"));
        return std::string((std::istreambuf_iterator<char>(in)), {});
    }
    // Waits (within a generous limit) for the daemon to log a text.
    bool logSays(const std::string& text) const {
        for (int i = 0; i < 300; ++i) {
            if (log().find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    ~PrivateAvahi() {
        // Children go in reverse order (each killed by its PID).
        publisher.reset();
        daemon.reset();
        bus.reset();
    }

    test::TempDir dir;
    std::string name;
    std::map<std::string, std::string> busEnvironment;
    std::string reason;
    std::unique_ptr<test::ChildProcess> bus, daemon, publisher;
};

} // namespace

TEST(NamespaceNet, DnsSdBrowseResolvesEachInstanceOncePerBrowse) {
    if (const auto why = NetworkNamespaces::unavailable()) GTEST_SKIP() << *why;
    NetworkNamespaces ns;
    PrivateAvahi avahi(ns);
    if (!avahi.reason.empty()) GTEST_SKIP() << avahi.reason;

    ConsoleProcess console(KX5_EDITOR_PATH, {.prefix = NetworkNamespaces::inside(avahi.name),
                                             .env = avahi.busEnvironment});
    EXPECT_EQ(console.call({"$$netservice_search", "_kx5test._tcp."}), "b1");
    const auto resolved = console.waitForEvent("netservice\fresolved\f");
    ASSERT_TRUE(resolved);
    picojson::value v;
    ASSERT_TRUE(picojson::parse(v, (*resolved)[2]).empty());
    auto& o = v.get<picojson::object>();
    EXPECT_EQ(o["name"].get<std::string>(), "KX5 Test Unit");
    EXPECT_EQ(o["port"].get<double>(), 4321);
    EXPECT_EQ(o["address"].get<std::string>().rfind("10.213.", 0), 0u);
    EXPECT_EQ((*resolved)[2].find("{\"address\":"), 0u);

    // One browse at a time.
    EXPECT_EQ(console.call({"$$netservice_search", "_kx5test._tcp."}), "b");
    console.call({"$$netservice_stop"});
    EXPECT_EQ(console.waitForEvent("netservice\fstopped\f")->at(2), "0");
    // Announced on two interfaces, the instance was still reported once.
    size_t count = 0;
    for (const auto& e : console.events())
        count += e.rfind("netservice\fresolved", 0) == 0;
    EXPECT_EQ(count, 1u);

    // A new browse reports it again.
    EXPECT_EQ(console.call({"$$netservice_search", "_kx5test._tcp."}), "b1");
    EXPECT_TRUE(console.waitForEvent("netservice\fresolved\f"));
    EXPECT_EQ(console.finish(), 0);
}
