#include "midi/simulated_midi_bus.h"
#include "sim/in_process_unit.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>

using namespace kx5;
using namespace kx5::sim;

namespace {

// The host side of a private bus: what the unit sends arrives here.
struct HostSide {
    explicit HostSide(std::shared_ptr<SimulatedMidiBus> b) : bus(std::move(b)) {}
    ~HostSide() {
        if (receiver) bus->closeReceiver(receiver);
    }
    uint64_t open() {
        const auto devices = bus->devices();
        EXPECT_EQ(devices.size(), 1u);
        device = devices.at(0).id;
        receiver = bus->openReceiver(device, [this](const uint8_t* b, size_t n) {
            std::lock_guard lock(mutex);
            got.emplace_back(b, b + n);
            signal.notify_all();
        });
        return device;
    }
    void send(const std::string& hex) {
        const Bytes b = *parseHex(hex);
        EXPECT_TRUE(bus->sendToDevice(device, b.data(), b.size()));
    }
    std::vector<Bytes> waitFor(size_t n) {
        std::unique_lock lock(mutex);
        signal.wait(lock, [&] { return got.size() >= n; });
        return got;
    }

    std::shared_ptr<SimulatedMidiBus> bus;
    uint64_t device = 0, receiver = 0;
    std::mutex mutex;
    std::condition_variable signal;
    std::vector<Bytes> got;
};

} // namespace

TEST(SimInProcess, ListedOnTheBusAndAnswersTheHost) {
    auto bus = SimulatedMidiBus::create();
    const auto dump = std::filesystem::temp_directory_path() /
                      ("kx5-inprocess-" + std::to_string(::getpid()) + ".json");
    {
        InProcessUnitOptions options;
        options.dumpFile = dump.string();
        InProcessUnit unit(bus, options);
        HostSide host(bus);
        host.open();
        EXPECT_EQ(bus->devices().at(0).productName, "KX-5 (simulated)");
        EXPECT_EQ(bus->devices().at(0).interfaceName, "sim:kx5-1");
        host.send("F07E7F0601F7");
        host.send("F07D10004B05123100000041"
                  "0E"
                  "F7"); // NAME[0] = 'A'
        host.send("F07D10004B05113100000000000001"
                  "4E"
                  "F7");
        const auto got = host.waitFor(2);
        EXPECT_EQ(hexText(got[0]), "F07E1006027D0502000000010000F7");
        EXPECT_EQ(hexText(got[1]), "F07D10004B05123100000041"
                                   "0E"
                                   "F7");
    }
    EXPECT_TRUE(bus->devices().empty()) << "removed with the unit";
    std::ifstream in(dump);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(text.find("\"IRDATA(1)%NAME\":\"41202020"), std::string::npos);
    std::filesystem::remove(dump);
}

TEST(SimInProcess, CommandLineOptions) {
    EXPECT_EQ(startInProcessUnit({"--console", "--no-simulated-unit"}), nullptr);
    auto unit = startInProcessUnit({"--simulated-unit-reply-delay", "x"});
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(SimulatedMidiBus::shared()->devices().size(), 1u);
    unit.reset();
    EXPECT_TRUE(SimulatedMidiBus::shared()->devices().empty());
}
