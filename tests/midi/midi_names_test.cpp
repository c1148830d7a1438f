// How the system drivers name devices: texts that survive re-plugging and
// other devices appearing, and the 31-character product name limit.
#include "midi/driver_alsa.h"
#include "midi/driver_jack.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

using namespace kx5;

TEST(DeviceNames, ProductNamesAreCutToWholeCharacters) {
    EXPECT_EQ(cutToUtf16Units("short", 31), "short");
    EXPECT_EQ(cutToUtf16Units(std::string(40, 'a'), 31), std::string(31, 'a'));
    // "é" is one unit in two bytes; U+1F3B8 takes two units in four bytes.
    EXPECT_EQ(cutToUtf16Units(std::string(30, 'a') + "éé", 31), std::string(30, 'a') + "é");
    EXPECT_EQ(cutToUtf16Units(std::string(30, 'a') + "\xF0\x9F\x8E\xB8", 31), std::string(30, 'a'));
    EXPECT_EQ(cutToUtf16Units(std::string(29, 'a') + "\xF0\x9F\x8E\xB8", 31),
              std::string(29, 'a') + "\xF0\x9F\x8E\xB8");
    // A sequence cut off by the end of the text is not kept.
    EXPECT_EQ(cutToUtf16Units("ab\xE2\x82", 31), "ab");
}

TEST(DeviceNames, JackNamesLeaveOutVolatileNumbers) {
    EXPECT_EQ(JackMidiDriver::productNameOf("synth:midi_in"), "synth");
    EXPECT_EQ(JackMidiDriver::interfaceNameOf("synth:midi_in"), "jack:synth:midi_in");
    // The ALSA bridge names the device in the port and adds the sequencer's
    // client number, which changes when other devices come and go.
    const std::string a2j = "a2j:KX-5 [24] (capture): KX-5 MIDI 1";
    EXPECT_EQ(JackMidiDriver::productNameOf(a2j), "KX-5");
    EXPECT_EQ(JackMidiDriver::interfaceNameOf(a2j), "jack:a2j:KX-5 (capture): KX-5 MIDI 1");
    EXPECT_EQ(JackMidiDriver::interfaceNameOf("a2j:KX-5 [130] (capture): KX-5 MIDI 1"),
              JackMidiDriver::interfaceNameOf(a2j));
    EXPECT_EQ(JackMidiDriver::interfaceNameOf("x:[a] [1x] [7]"), "jack:x:[a] [1x]");
    EXPECT_EQ(JackMidiDriver::productNameOf("a2j:"), "a2j");
    EXPECT_EQ(JackMidiDriver::productNameOf(std::string(40, 'c') + ":p"), std::string(31, 'c'));
}

TEST(DeviceNames, AlsaCardsAreNamedByTheirUsbPath) {
    EXPECT_EQ(AlsaMidiDriver::cardInterfaceName("Velmar KX-5 at usb-0000:00:14.0-2, high speed",
                                                "KX5", 0),
              "alsa:usb-0000:00:14.0-2#0");
    // A second identical unit on another USB port differs; its card id
    // ("KX5_1") does not enter the text.
    EXPECT_EQ(AlsaMidiDriver::cardInterfaceName("Velmar KX-5 at usb-0000:00:14.0-3, high speed",
                                                "KX5_1", 1),
              "alsa:usb-0000:00:14.0-3#1");
    EXPECT_EQ(AlsaMidiDriver::cardInterfaceName("Sound Card at 0xf7e00000 irq 30", "PCH", 0),
              "alsa:card=PCH#0");
    EXPECT_EQ(AlsaMidiDriver::cardInterfaceName("Box at usb-1.2", "Box", 3), "alsa:usb-1.2#3");
}

TEST(DeviceNames, AlsaWithoutSequencerListsNothing) {
    // This machine has no /dev/snd/seq; where one exists the driver must at
    // least answer consistently.
    AlsaMidiDriver driver("kx5-test");
    if (driver.available()) GTEST_SKIP() << "an ALSA sequencer is present";
    EXPECT_EQ(driver.count(MidiDirection::Input), 0);
    EXPECT_EQ(driver.count(MidiDirection::Output), 0);
    EXPECT_FALSE(driver.productName(MidiDirection::Input, 0).has_value());
    EXPECT_EQ(driver.openInput(0, [](const uint8_t*, size_t) {}), nullptr);
    EXPECT_EQ(driver.openOutput(0), nullptr);
}

TEST(DeviceNames, JackWithoutServerListsNothing) {
    setenv("JACK_DEFAULT_SERVER", ("kx5-none-" + std::to_string(getpid())).c_str(), 1);
    JackMidiDriver driver("kx5-test");
    EXPECT_EQ(driver.count(MidiDirection::Input), 0);
    EXPECT_EQ(driver.count(MidiDirection::Output), 0);
    EXPECT_EQ(driver.interfaceName(MidiDirection::Output, 0), "");
    EXPECT_EQ(driver.openInput(0, [](const uint8_t*, size_t) {}), nullptr);
    EXPECT_EQ(driver.openOutput(0), nullptr);
    unsetenv("JACK_DEFAULT_SERVER");
}
