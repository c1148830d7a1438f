// The port layer over the in-process driver: enumeration, the record-to-device
// rule, reopening, input pieces and filtering, delivery and send failures,
// device-change polling.
#include "midi/driver_combined.h"
#include "midi/driver_simulated.h"
#include "midi/midi_client.h"
#include "midi/simulated_midi_bus.h"
#include "midi_test_support.h"
#include "recording_delegate.h"

#include <gtest/gtest.h>

using namespace kx5;
using kx5::test::bytesOf;
using kx5::test::MessageLog;
using kx5::test::RecordingDelegate;
using kx5::test::waitUntil;

namespace {

// A simulated device that keeps what the host sent it.
struct TestDevice {
    MessageLog received;
    std::unique_ptr<SimulatedMidiDevice> device;
    TestDevice(SimulatedMidiBus& bus, const std::string& product, const std::string& interface) {
        device = bus.addDevice(product, interface,
                               [this](const uint8_t* b, size_t n) { received.add(b, n); });
    }
};

struct Ports : ::testing::Test {
    std::shared_ptr<SimulatedMidiBus> bus = SimulatedMidiBus::create();
    RecordingDelegate delegate;
    std::unique_ptr<MIDIClient> client;

    void makeClient(int pollMs = MIDIClient::kPollPeriodMs) {
        client = std::make_unique<MIDIClient>(std::make_shared<SimulatedMidiDriver>(bus), pollMs);
        client->setDelegate(&delegate);
        client->inputPort().setInputDelegate(&delegate);
    }
    void SetUp() override { makeClient(); }
    void TearDown() override { client.reset(); }
    void send(const std::vector<uint8_t>& bytes) {
        client->outputPort().send(bytes.data(), bytes.size());
    }
};

// A driver whose product-name query fails for one device number.
class FailingQueryDriver final : public MidiDriver {
  public:
    int count(MidiDirection) override { return 3; }
    std::optional<std::string> productName(MidiDirection, int n) override {
        if (n == 1) return std::nullopt;
        return "dev" + std::to_string(n);
    }
    std::string interfaceName(MidiDirection, int n) override { return "if" + std::to_string(n); }
    std::unique_ptr<MidiInputStream> openInput(int, MidiReceiver) override { return nullptr; }
    std::unique_ptr<MidiOutputStream> openOutput(int) override { return nullptr; }
};

} // namespace

TEST_F(Ports, RecordsFollowTheDevicesNames) {
    TestDevice a(*bus, "KX-5", "sim:one");
    TestDevice b(*bus, "Plain", "");
    TestDevice c(*bus, "A product name longer than thirty-one characters", "x");
    const auto& list = client->inputPort().endpoints();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0], (MIDIEndpointRecord{"KX-5", "KX-5", "KX-5sim:one", "sim:one"}));
    EXPECT_EQ(list[1], (MIDIEndpointRecord{"Plain", "Plain", "Plain", "Plain"}));
    EXPECT_EQ(list[2].deviceName, "A product name longer than thir");
    EXPECT_EQ(client->outputPort().endpoints(), list);

    // Enumeration stops at the first device whose query fails.
    MIDIClient failing(std::make_shared<FailingQueryDriver>());
    ASSERT_EQ(failing.inputPort().endpoints().size(), 1u);
    EXPECT_EQ(failing.inputPort().endpoints()[0].deviceName, "dev0");
}

TEST_F(Ports, RecordWithoutInterfaceMatchesFirstDeviceWithoutOne) {
    TestDevice a(*bus, "Alpha", "if-a");
    TestDevice b(*bus, "Beta", "");
    TestDevice c(*bus, "Gamma", "");
    // Only the device name and the UID take part, whatever the product name.
    const MIDIEndpointRecord record{"Zeta", "ignored", "Zeta", "ignored"};
    client->outputPort().connect(record);
    send(bytesOf({0x90, 0x3C, 0x7F}));
    EXPECT_EQ(a.received.size(), 0u);
    EXPECT_EQ(b.received.messages(),
              std::vector<std::vector<uint8_t>>{bytesOf({0x90, 0x3C, 0x7F})});
    EXPECT_EQ(c.received.size(), 0u);
    EXPECT_TRUE(delegate.outputFailures().empty());

    // The UID comparison is exact.
    const MIDIEndpointRecord wrongCase{"Alpha", "Alpha", "AlphaIF-A", "if-a"};
    client->outputPort().connect(wrongCase);
    client->inputPort().connect(wrongCase);
    EXPECT_EQ(delegate.outputFailures(), std::vector{wrongCase});
    EXPECT_EQ(delegate.inputFailures(), std::vector{wrongCase});
}

TEST_F(Ports, ConnectingAnOpenRecordAgainKeepsOneEntry) {
    TestDevice a(*bus, "KX-5", "sim:one");
    const auto record = client->outputPort().endpoints().at(0);
    client->outputPort().connect(record);
    client->outputPort().connect(record);
    client->inputPort().connect(record);
    client->inputPort().connect(record);
    EXPECT_EQ(client->outputPort().openCount(), 1u);
    EXPECT_EQ(client->inputPort().openCount(), 1u);
    send(bytesOf({0xF0, 0x01, 0xF7}));
    EXPECT_EQ(a.received.size(), 1u);

    a.device->sendToHost(bytesOf({0x80, 0x3C, 0x00}));
    ASSERT_TRUE(waitUntil([&] { return delegate.messages().size() == 1; }));

    // The device went away: no device matches, the page hears, and the open
    // entries are left as they were.
    a.device.reset();
    client->inputPort().connect(record);
    client->outputPort().connect(record);
    EXPECT_EQ(client->inputPort().openCount(), 1u);
    EXPECT_EQ(client->outputPort().openCount(), 1u);
    EXPECT_EQ(delegate.inputFailures(), std::vector{record});
    EXPECT_EQ(delegate.outputFailures(), std::vector{record});
}

TEST_F(Ports, InputIsCutIntoPiecesAndFiltered) {
    TestDevice a(*bus, "KX-5", "sim:one");
    client->inputPort().connectAll();
    ASSERT_EQ(client->inputPort().openCount(), 1u);

    std::vector<uint8_t> longExclusive{0xF0};
    for (int i = 0; i < 1100; ++i)
        longExclusive.push_back(static_cast<uint8_t>(i % 0x80));
    longExclusive.push_back(0xF7);
    a.device->sendToHost(bytesOf({0xF8}));
    a.device->sendToHost(bytesOf({0xFE}));
    a.device->sendToHost(bytesOf({0x3C, 0x40}));
    a.device->sendToHost(bytesOf({0xF4}));
    a.device->sendToHost(longExclusive);
    a.device->sendToHost(bytesOf({0xC0, 0x05, 0x77})); // extra byte is not passed on
    a.device->sendToHost(bytesOf({0xB0, 0x07}));       // missing byte reads as 0
    a.device->sendToHost(bytesOf({0xFA}));
    ASSERT_TRUE(waitUntil([&] { return delegate.messages().size() >= 6; }));

    const auto got = delegate.messageBytes();
    ASSERT_EQ(got.size(), 6u);
    ASSERT_EQ(got[0].size(), 512u);
    ASSERT_EQ(got[1].size(), 512u);
    ASSERT_EQ(got[2].size(), 1102u - 1024u);
    EXPECT_EQ(got[0].front(), 0xF0);
    EXPECT_EQ(got[2].back(), 0xF7);
    std::vector<uint8_t> joined;
    for (int i = 0; i < 3; ++i)
        joined.insert(joined.end(), got[i].begin(), got[i].end());
    EXPECT_EQ(joined, longExclusive);
    EXPECT_EQ(got[3], bytesOf({0xC0, 0x05}));
    EXPECT_EQ(got[4], bytesOf({0xB0, 0x07, 0x00}));
    EXPECT_EQ(got[5], bytesOf({0xFA}));

    // Two inputs feed the same stream; after disconnectAll nothing arrives.
    TestDevice b(*bus, "Other", "sim:two");
    client->inputPort().connectAll();
    EXPECT_EQ(client->inputPort().openCount(), 2u);
    b.device->sendToHost(bytesOf({0x91, 0x01, 0x02}));
    ASSERT_TRUE(waitUntil([&] { return delegate.messages().size() == 7; }));
    client->inputPort().disconnectAll();
    EXPECT_FALSE(a.device->hostListening());
    EXPECT_FALSE(a.device->sendToHost(bytesOf({0x90, 0x01, 0x02})));
}

TEST_F(Ports, DeliveryReachesEveryOutputAndAFailingOneIsClosed) {
    auto a = std::make_unique<TestDevice>(*bus, "A", "sim:a");
    TestDevice b(*bus, "B", "sim:b");
    client->outputPort().connectAll();
    ASSERT_EQ(client->outputPort().openCount(), 2u);
    send(bytesOf({0x90, 0x3C, 0x7F}));
    EXPECT_EQ(b.received.size(), 1u);
    EXPECT_EQ(a->received.size(), 1u);

    const auto recordA = MIDIEndpointRecord::fromDevice("A", "sim:a");
    a.reset();
    send(bytesOf({0x90, 0x3C, 0x00}));
    EXPECT_EQ(delegate.errors(), std::vector<int32_t>{MidiErrorDeviceGone});
    EXPECT_EQ(b.received.size(), 2u);
    // The failed endpoint stays listed but closed; later sends skip it quietly.
    EXPECT_EQ(client->outputPort().openCount(), 2u);
    EXPECT_FALSE(client->outputPort().isOpen(recordA.endpointUID));
    send(bytesOf({0x90, 0x3D, 0x00}));
    EXPECT_EQ(delegate.errors().size(), 1u);
    EXPECT_EQ(b.received.size(), 3u);

    // Once the device is back, connecting its record opens it again.
    TestDevice again(*bus, "A", "sim:a");
    client->outputPort().connect(recordA);
    EXPECT_TRUE(client->outputPort().isOpen(recordA.endpointUID));
    send(bytesOf({0xC0, 0x01}));
    EXPECT_EQ(again.received.messages(), std::vector<std::vector<uint8_t>>{bytesOf({0xC0, 0x01})});

    client->outputPort().disconnect(recordA);
    client->outputPort().disconnect(recordA); // not open: ignored
    EXPECT_EQ(client->outputPort().openCount(), 1u);
}

TEST_F(Ports, PollingReportsChangesOfTheDeviceCounts) {
    makeClient(20);
    // No devices: the counts never differ from the initial 0.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(delegate.changes(), 0);

    auto a = std::make_unique<TestDevice>(*bus, "A", "sim:a");
    ASSERT_TRUE(waitUntil([&] { return delegate.changes() == 1; }));
    a.reset();
    ASSERT_TRUE(waitUntil([&] { return delegate.changes() == 2; }));

    // Without a delegate the change is kept and reported once one is set.
    client->setDelegate(nullptr);
    TestDevice b(*bus, "B", "sim:b");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    client->setDelegate(&delegate);
    ASSERT_TRUE(waitUntil([&] { return delegate.changes() == 3; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(delegate.changes(), 3);
}

TEST_F(Ports, CombinedDriverListsSystemDevicesFirst) {
    auto second = SimulatedMidiBus::create();
    TestDevice a(*bus, "First", "sim:1");
    TestDevice b(*second, "Second", "sim:2");
    MIDIClient combined(std::make_shared<CombinedMidiDriver>(
        std::vector<std::shared_ptr<MidiDriver>>{std::make_shared<SimulatedMidiDriver>(bus),
                                                 std::make_shared<SimulatedMidiDriver>(second)}));
    const auto list = combined.outputPort().endpoints();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1].deviceName, "Second");
    combined.outputPort().connect(list[1]);
    const auto msg = bytesOf({0xF6});
    combined.outputPort().send(msg.data(), msg.size());
    EXPECT_EQ(b.received.size(), 1u);
    EXPECT_EQ(a.received.size(), 0u);
}
