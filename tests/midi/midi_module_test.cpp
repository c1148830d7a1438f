// The "midi" and "midix" modules over the in-process driver: call results,
// event texts, record errors, numbered clients and thru.
#include "bridge/app_paths.h"
#include "bridge/javascript_interface.h"
#include "bridge/native_objects.h"
#include "bridge/ui_queue_glib.h"
#include "midi/driver_simulated.h"
#include "midi/midi_client.h"
#include "midi/midi_system.h"
#include "midi/midix_client.h"
#include "midi/native_call_midi.h"
#include "midi/native_call_midix.h"
#include "midi/simulated_midi_bus.h"
#include "midi_test_support.h"
#include "tests/support/event_text.h"
#include "tests/support/temp_dir.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>

using namespace kx5;
using kx5::test::bytesOf;
using kx5::test::MessageLog;
using kx5::test::waitUntil;

namespace {

class PullInterface final : public JavaScriptInterface {
  public:
    using JavaScriptInterface::JavaScriptInterface;
    void navigate(const std::string&) override {}
    void processEvent() override {}
    void requestClose() override {}
};

struct TestDevice {
    MessageLog received;
    std::unique_ptr<SimulatedMidiDevice> device;
    TestDevice(SimulatedMidiBus& bus, const std::string& product, const std::string& interface) {
        device = bus.addDevice(product, interface,
                               [this](const uint8_t* b, size_t n) { received.add(b, n); });
    }
};

struct Modules : ::testing::Test {
    GMainContext* context = g_main_context_new();
    GlibUiQueue ui{context};
    PullInterface js{ui};
    AppPaths paths{"kx5test", "/nonexistent/", "/nonexistent/", "/nonexistent/"};
    std::shared_ptr<SimulatedMidiBus> bus = SimulatedMidiBus::create();
    std::unique_ptr<NativeObjects> objects;
    std::unique_ptr<NativeCall_midi> midi;
    std::unique_ptr<NativeCall_midix> midix;
    std::vector<std::string> events;

    void SetUp() override {
        objects = std::make_unique<NativeObjects>(js, paths);
        objects->midiClient =
            createSharedMidiClient(*objects, std::make_shared<SimulatedMidiDriver>(bus));
        midi = std::make_unique<NativeCall_midi>(objects.get());
        midix = std::make_unique<NativeCall_midix>(objects.get());
    }
    void TearDown() override {
        midix.reset();
        midi.reset();
        objects.reset();
        g_main_context_unref(context);
    }
    std::string call(NativeCall& m, const std::string& fn, const Args& args = {}) {
        return m.call(fn, args);
    }
    // Events of one module and type seen so far (the queue is drained into
    // `events`).
    std::vector<std::vector<std::string>> eventsOf(const std::string& module,
                                                   const std::string& type) {
        for (std::string e = js.pullEvent(); !e.empty(); e = js.pullEvent())
            events.push_back(e);
        std::vector<std::vector<std::string>> out;
        for (const auto& e : events) {
            auto f = test::eventFields(e);
            if (f.size() >= 2 && f[0] == module && f[1] == type) out.push_back(f);
        }
        return out;
    }
    std::string firstRecord(const std::string& listing) {
        // "s[{...}, ...]" -> the first object's text
        const size_t open = listing.find('{');
        const size_t close = listing.find('}', open);
        return listing.substr(open, close - open + 1);
    }
};

} // namespace

TEST_F(Modules, MidiListsConnectsAndSends) {
    EXPECT_EQ(call(*midi, "inendpoints"), "s[]");
    EXPECT_EQ(call(*midi, "outendpoints"), "s[]");

    TestDevice unit(*bus, "KX-5 \"sim\"", "sim:kx5");
    ASSERT_TRUE(waitUntil([&] { return eventsOf("midi", "changed").size() == 1; }));
    const std::string listing = call(*midi, "outendpoints");
    EXPECT_EQ(listing,
              R"(s[{"MIDIDeviceNameKey":"KX-5 \"sim\"","MIDIEndpointIndexKey":"sim:kx5",)"
              R"("MIDIEndpointUIDKey":"KX-5 \"sim\"sim:kx5","MIDIEntityNameKey":"KX-5 \"sim\""}])");
    const std::string record = firstRecord(listing);
    EXPECT_EQ(call(*midi, "outconnect", {record}), "v");
    EXPECT_EQ(call(*midi, "send", {"f0"}), "v");
    EXPECT_EQ(call(*midi, "send", {"F7"}), "v");
    EXPECT_EQ(call(*midi, "send"), "v");
    EXPECT_EQ(unit.received.messages(), std::vector<std::vector<uint8_t>>{bytesOf({0xF0, 0xF7})});

    EXPECT_EQ(call(*midi, "inconnect", {firstRecord(call(*midi, "inendpoints"))}), "v");
    unit.device->sendToHost(bytesOf({0xF0, 0x7E, 0x7F, 0x06, 0x02, 0xF7}));
    ASSERT_TRUE(waitUntil([&] { return !eventsOf("midi", "message").empty(); }));
    const auto message = eventsOf("midi", "message")[0];
    ASSERT_EQ(message.size(), 4u);
    EXPECT_EQ(message[2], "F07E7F0602F7");
    EXPECT_FALSE(message[3].empty());
    EXPECT_TRUE(std::all_of(message[3].begin(), message[3].end(), ::isdigit));

    // Unplugged: the send fails once with "error", reconnecting fails with the record.
    unit.device.reset();
    call(*midi, "send", {"903C7F"});
    EXPECT_EQ(eventsOf("midi", "error"),
              (std::vector<std::vector<std::string>>{{"midi", "error", "-19"}}));
    call(*midi, "inconnect", {record});
    EXPECT_EQ(eventsOf("midi", "connectfailed"),
              (std::vector<std::vector<std::string>>{{"midi", "connectfailed", record}}));

    ASSERT_TRUE(waitUntil([&] { return eventsOf("midi", "changed").size() == 2; }));
    EXPECT_EQ(eventsOf("midi", "changed")[1].size(), 2u);
}

TEST_F(Modules, BadRecordsFailWithoutTouchingPorts) {
    TestDevice unit(*bus, "KX-5", "sim:kx5");
    call(*midi, "outconnect");
    call(*midi, "inconnect");
    ASSERT_EQ(objects->midiClient->outputPort().openCount(), 1u);
    for (
        const std::string bad :
        {"[1,2]", "", "nonsense",
         R"({"MIDIDeviceNameKey":"KX-5","MIDIEntityNameKey":"KX-5","MIDIEndpointUIDKey":"KX-5sim:kx5","MIDIEndpointIndexKey":0})"}) {
        for (const char* fn : {"inconnect", "indisconnect", "outconnect", "outdisconnect"})
            EXPECT_EQ(call(*midi, fn, {bad}), "esystem exception") << fn << " " << bad;
        EXPECT_EQ(call(*midix, "client", {"1"}), "v");
        EXPECT_EQ(call(*midix, "outdisconnect", {"0", bad}), "esystem exception");
    }
    EXPECT_EQ(objects->midiClient->outputPort().openCount(), 1u);
    EXPECT_EQ(objects->midiClient->inputPort().openCount(), 1u);
    EXPECT_TRUE(eventsOf("midi", "connectfailed").empty());

    call(*midi, "outdisconnect");
    call(*midi, "indisconnect");
    EXPECT_EQ(objects->midiClient->outputPort().openCount(), 0u);
    EXPECT_EQ(objects->midiClient->inputPort().openCount(), 0u);
}

TEST_F(Modules, MidixClientsAreCreatedOnceAndNumbersChecked) {
    EXPECT_EQ(call(*midix, "client", {"abc"}), "esystem exception");
    EXPECT_EQ(call(*midix, "client"), "eInvalid argument");
    EXPECT_EQ(call(*midix, "client", {"0"}), "v");
    EXPECT_EQ(call(*midix, "client", {"100000"}), "esystem exception");
    EXPECT_TRUE(objects->midixClients.empty());
    EXPECT_EQ(call(*midix, "client", {"2"}), "v");
    EXPECT_EQ(call(*midix, "client", {"5"}), "v");
    EXPECT_EQ(objects->midixClients.size(), 2u);

    for (const std::string bad : {"2", "-1", "x", "99999999999", ""})
        EXPECT_EQ(call(*midix, "inconnect", {bad}), "esystem exception") << bad;
    EXPECT_EQ(call(*midix, "inconnect", {" +1abc"}), "v");
    EXPECT_EQ(call(*midix, "send", {"1"}), "v");
    EXPECT_EQ(call(*midix, "thru", {"1"}), "v");
    EXPECT_FALSE(objects->midixClients[1]->events().thru());
    for (const std::string on : {"true", "yes", "1"}) {
        call(*midix, "thru", {"0", on});
        EXPECT_TRUE(objects->midixClients[0]->events().thru()) << on;
        call(*midix, "thru", {"0", "false"});
        EXPECT_FALSE(objects->midixClients[0]->events().thru());
    }
    call(*midix, "thru", {"0", "no"});
    EXPECT_FALSE(objects->midixClients[0]->events().thru());
    EXPECT_EQ(call(*midix, "inendpoints"), "s[]");
}

TEST_F(Modules, MidixThruEchoesOnItsOwnClientOnly) {
    TestDevice unit(*bus, "KX-5", "sim:kx5");
    TestDevice other(*bus, "Other", "sim:other");
    call(*midix, "client", {"2"});
    const std::string unitRecord =
        midiEndpointToJson(MIDIEndpointRecord::fromDevice("KX-5", "sim:kx5"));
    const std::string otherRecord =
        midiEndpointToJson(MIDIEndpointRecord::fromDevice("Other", "sim:other"));
    call(*midix, "inconnect", {"1", unitRecord});
    call(*midix, "outconnect", {"1", unitRecord});
    call(*midix, "outconnect", {"0", otherRecord});
    call(*midix, "thru", {"1", "yes"});

    // The page is in the middle of an exclusive message when a note arrives.
    call(*midix, "send", {"1", "F07D01"});
    unit.device->sendToHost(bytesOf({0x90, 0x3C, 0x7F}));
    ASSERT_TRUE(waitUntil([&] { return unit.received.size() == 1; }));
    call(*midix, "send", {"1", "02F7"});
    EXPECT_EQ(unit.received.messages(),
              (std::vector<std::vector<uint8_t>>{bytesOf({0x90, 0x3C, 0x7F}),
                                                 bytesOf({0xF0, 0x7D, 0x01, 0x02, 0xF7})}));
    EXPECT_EQ(other.received.size(), 0u);

    ASSERT_TRUE(waitUntil([&] { return !eventsOf("midix", "message").empty(); }));
    const auto m = eventsOf("midix", "message")[0];
    ASSERT_EQ(m.size(), 5u);
    EXPECT_EQ(m[2], "1");
    EXPECT_EQ(m[3], "903C7F");

    // Connect failure and send error carry the client number.
    call(
        *midix, "inconnect",
        {"0",
         R"({"MIDIDeviceNameKey":"no","MIDIEntityNameKey":"no","MIDIEndpointUIDKey":"no","MIDIEndpointIndexKey":"no"})"});
    const auto failed = eventsOf("midix", "connectfailed");
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0][2], "0");
    other.device.reset();
    call(*midix, "send", {"0", "C001"});
    EXPECT_EQ(eventsOf("midix", "error"),
              (std::vector<std::vector<std::string>>{{"midix", "error", "0", "-19"}}));
}

TEST_F(Modules, MidixReportsEachChangeOnce) {
    call(*midix, "client", {"3"});
    TestDevice unit(*bus, "KX-5", "sim:kx5");
    ASSERT_TRUE(waitUntil([&] { return !eventsOf("midix", "changed").empty(); }));
    // Every client has polled at least once more by the time the shared
    // client reported twice more... give them all time to notice.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_EQ(eventsOf("midix", "changed").size(), 1u);
    EXPECT_GE(eventsOf("midi", "changed").size(), 1u);
}

TEST_F(Modules, PanelStartsAnInstalledSettingsProgram) {
    test::TempDir dir;
    const std::string marker = dir.path() + "started";
    const std::string script = dir.path() + "pavucontrol";
    {
        std::ofstream out(script);
        out << "#!/bin/sh\necho \"$@\" > '" << marker << "'\n";
    }
    chmod(script.c_str(), 0755);
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    const char* oldDesktop = std::getenv("XDG_CURRENT_DESKTOP");
    const std::string savedDesktop = oldDesktop ? oldDesktop : "";
    unsetenv("XDG_CURRENT_DESKTOP");

    setenv("PATH", (dir.path() + "empty").c_str(), 1);
    EXPECT_EQ(call(*midi, "panel"), "v");
    setenv("PATH", dir.path().c_str(), 1);
    EXPECT_EQ(call(*midix, "panel"), "v");
    setenv("PATH", oldPath.c_str(), 1);
    if (oldDesktop) setenv("XDG_CURRENT_DESKTOP", savedDesktop.c_str(), 1);
    EXPECT_TRUE(waitUntil([&] {
        struct stat st {};
        return stat(marker.c_str(), &st) == 0;
    }));
}
