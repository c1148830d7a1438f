// The built program's bridge console with a private PulseAudio server: the
// audio calls a page makes, end to end.
#include "audio_test_support.h"
#include "pulse_server.h"
#include "tests/support/console_process.h"

#include <gtest/gtest.h>
#include <picojson.h>

#include <chrono>
#include <thread>

using namespace kx5;
using namespace kx5::test;

TEST(AudioConsole, ListsConvertsAndPlaysThroughTheBridge) {
    PulseServer server;
    ASSERT_TRUE(server.running()) << server.log();
    TempDir home;
    ConsoleProcess console(
        KX5_EDITOR, {.home = home.path(), .env = {{"PULSE_SERVER", server.serverAddress()}}});

    const std::string outputs = console.call({"$$audio_outputs"});
    picojson::value list;
    picojson::parse(list, outputs.substr(1));
    ASSERT_TRUE(list.is<picojson::array>()) << outputs;
    ASSERT_EQ(list.get<picojson::array>().size(), 1u);
    EXPECT_EQ(list.get(0).get("AudioDeviceUIDKey").to_str(), PulseServer::kSink);
    EXPECT_TRUE(list.get(0).get("AudioDeviceCurrentKey").get<bool>());

    const std::string wav = home.file("tone.wav");
    writeWave(wav, {}, pcm16(sine16(11025, 2, 44100)));
    const std::string mp3 = home.file("tone.mp3");
    const std::string description = "{\"file\":" + picojson::value(mp3).serialize() +
                                    ",\"format\":\"mp3\",\"channels\":2,\"samplerate\":44100,"
                                    "\"bitdepth\":16,\"bitrate\":128000}";
    EXPECT_EQ(console.call({"$$audio_convert", wav, description}), "v");
    const auto converted = console.eventsUntil("audio\fconverted");
    ASSERT_FALSE(converted.empty());
    ASSERT_EQ(converted.back().rfind("audio\fconverted", 0), 0u);
    EXPECT_EQ(eventFields(converted.back())[2], wav);
    picojson::value format;
    picojson::parse(format, console.call({"$$audio_format", mp3}).substr(1));
    EXPECT_EQ(format.get("format").to_str(), "MP3");

    EXPECT_EQ(console.call({"$$player_open", mp3}), "b1");
    EXPECT_EQ(console.call({"$$player_play"}), "v");
    // Other modules (MIDI) may report in between; the player's own order counts.
    std::vector<std::string> played;
    for (const auto& e : console.eventsUntil("player\feof"))
        if (e.rfind("player\f", 0) == 0) played.push_back(e);
    EXPECT_EQ(played, (std::vector<std::string>{"player\fstop\f" + mp3, "player\feof\f" + mp3}));
}

TEST(AudioConsole, AServerThatDiesDuringPlaybackIsAPlayerFailure) {
    PulseServer server;
    ASSERT_TRUE(server.running()) << server.log();
    TempDir home;
    ConsoleProcess console(
        KX5_EDITOR, {.home = home.path(), .env = {{"PULSE_SERVER", server.serverAddress()}}});
    const std::string wav = home.file("long.wav");
    writeWave(wav, {}, pcm16(sine16(44100 * 20, 2, 44100)));
    ASSERT_EQ(console.call({"$$player_open", wav}), "b1");
    ASSERT_EQ(console.call({"$$player_play"}), "v");
    ASSERT_EQ(console.call({"$$player_status"}), "d1");
    // Playing for a while before the server goes.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    server.kill();
    std::vector<std::string> told;
    for (const auto& e : console.eventsUntil("player\ferror"))
        if (e.rfind("player\f", 0) == 0) told.push_back(e);
    EXPECT_EQ(told, (std::vector<std::string>{"player\fstop\f" + wav, "player\ferror\f" + wav}));
    EXPECT_EQ(console.call({"$$player_status"}), "d0");
    EXPECT_EQ(console.call({"$$player_time"}), "f0.000000");
    // The program goes on; playing again fails quietly with no server.
    EXPECT_EQ(console.call({"$$player_play"}), "v");
    EXPECT_EQ(console.call({"$$player_status"}), "d0");
    EXPECT_EQ(console.finish(), 0);
}
