// Gain law, level meter, sampler ramps, device records and the WAVE chunk
// reader and writer, without a sound server.
#include "audio/devices/audio_device_entry.h"
#include "audio/files/pending_output.h"
#include "audio/files/wave_chunk_file.h"
#include "audio/players/sampler_player.h"
#include "audio/units/level_meter.h"
#include "audio_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

using namespace kx5;
using namespace kx5::test;

TEST(VolumeLaw, ScalesByVolumeToThePowerOf1_75AndClamps) {
    EXPECT_NEAR(volumeGain(0.5f), 0.2973f, 1e-4);
    EXPECT_EQ(volumeGain(0.0f), 0.0f);
    EXPECT_EQ(volumeGain(-1.0f), 0.0f);
    EXPECT_EQ(volumeGain(1.5f), 1.0f);
    EXPECT_EQ(volumeGain(std::nanf("")), 0.0f);

    std::vector<int16_t> s = {10000, -10000, 32767, -32768};
    float left = 0, right = 0;
    applyGain(s.data(), 2, 2, volumeGain(0.5f), left, right);
    EXPECT_EQ(s, (std::vector<int16_t>{2973, -2973, 9741, -9741}));
    EXPECT_NEAR(left, 10000 * 0.29730178 * 10000 * 0.29730178 + 32767.0 * 32767 * 0.0883883,
                left * 1e-4);
}

TEST(LevelMeter, FullScaleSquareReadsZeroDecibelsAndSilenceTheFloor) {
    LevelMeter meter(1);
    std::vector<int16_t> square(2048);
    for (size_t i = 0; i < square.size(); ++i)
        square[i] = (i / 2) % 2 ? 32767 : -32767;
    float l = 0, r = 0;
    applyGain(square.data(), 1024, 2, 1.0f, l, r);
    meter.push(1024, l, r);
    EXPECT_NEAR(meter.peakPower(0), 0.0f, 0.01f);
    EXPECT_NEAR(meter.peakPower(1), 0.0f, 0.01f);
    EXPECT_EQ(meter.peakPower(2), -120.0f);
    EXPECT_EQ(meter.peakPower(-1), -120.0f);

    // Silence after a read: the held level falls smoothly, not at once.
    meter.push(1024, 0, 0);
    const float afterOne = meter.peakPower(0);
    EXPECT_LT(afterOne, 0.0f);
    EXPECT_GT(afterOne, -120.0f);
    float level = afterOne;
    for (int i = 0; i < 400; ++i) {
        meter.push(1024, 0, 0);
        const float next = meter.peakPower(0);
        EXPECT_LE(next, level);
        level = next;
    }
    EXPECT_EQ(level, -120.0f);

    LevelMeter silent(4);
    silent.push(1024, 0, 0);
    EXPECT_EQ(silent.peakPower(0), -120.0f);
}

TEST(LevelMeter, FourSlotRingLagsThreeBuffersAndResetClears) {
    LevelMeter meter(4);
    const float loud = 1024.0f * 16384.0f * 16384.0f; // rms 16384: -6.02 dB
    meter.push(1024, loud, loud);
    EXPECT_EQ(meter.peakPower(0), -120.0f);
    meter.push(1024, 0, 0);
    meter.push(1024, 0, 0);
    EXPECT_EQ(meter.peakPower(0), -120.0f);
    meter.push(1024, 0, 0);
    EXPECT_NEAR(meter.peakPower(0), -6.0206f, 0.01f);
    meter.reset();
    EXPECT_EQ(meter.peakPower(0), -120.0f);
}

TEST(SamplerRamp, MovesLinearlyBetweenGainsAndZeroesAZeroRamp) {
    std::vector<int16_t> s(8, 10000); // 4 stereo frames
    float l = 0, r = 0;
    rampSamples(s.data(), 4, 2, 0.0f, 1.0f, &l, &r);
    EXPECT_EQ(s, (std::vector<int16_t>{0, 0, 2500, 2500, 5000, 5000, 7500, 7500}));
    EXPECT_FLOAT_EQ(l, 2500.0f * 2500 + 5000.0f * 5000 + 7500.0f * 7500);
    EXPECT_FLOAT_EQ(l, r);

    std::vector<int16_t> mono(3, -8000);
    rampSamples(mono.data(), 3, 1, 1.0f, 1.0f);
    EXPECT_EQ(mono, (std::vector<int16_t>{-8000, -8000, -8000}));
    rampSamples(mono.data(), 3, 1, 0.0f, 0.0f);
    EXPECT_EQ(mono, (std::vector<int16_t>{0, 0, 0}));
}

TEST(AudioDeviceRecords, WriteSortedKeysAndEscapedTexts) {
    EXPECT_EQ(writeAudioDeviceList({}), "[]");
    AudioDeviceEntry e{"Desk \"A\" \\ B", "alsa_output.x", 48000, 2, 24, true};
    AudioDeviceEntry f{"USB", "usb", 44100, 1, 16, false};
    EXPECT_EQ(writeAudioDeviceList({e, f}),
              "[{\"AudioDeviceBitDepthKey\":24,\"AudioDeviceChannelsKey\":2,"
              "\"AudioDeviceCurrentKey\":true,\"AudioDeviceNameKey\":\"Desk \\\"A\\\" \\\\ B\","
              "\"AudioDeviceSampleRateKey\":48000,\"AudioDeviceUIDKey\":\"alsa_output.x\"},"
              "{\"AudioDeviceBitDepthKey\":16,\"AudioDeviceChannelsKey\":1,"
              "\"AudioDeviceCurrentKey\":false,\"AudioDeviceNameKey\":\"USB\","
              "\"AudioDeviceSampleRateKey\":44100,\"AudioDeviceUIDKey\":\"usb\"}]");
}

TEST(WaveChunkFiles, WriterPadsOddDataAndReaderTrustsOnlyWhatTheFileHolds) {
    TempDir dir;
    const std::string path = dir.file("odd.wav");
    {
        WaveChunkWriter w;
        ASSERT_TRUE(w.create(path, WaveFormat::uncompressed(kWaveTagPcm, 1, 8000, 8)));
        const uint8_t bytes[3] = {1, 2, 3};
        ASSERT_TRUE(w.write(bytes, 3));
        ASSERT_TRUE(w.close());
    }
    const ParsedWave p = readWave(path);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.formatSize, 18u);
    EXPECT_EQ(p.data, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(std::filesystem::file_size(path), 12u + 8 + 18 + 8 + 4);

    // A header that claims more data than the file has.
    writeWave(path, {}, std::vector<uint8_t>(400, 7));
    std::filesystem::resize_file(path, std::filesystem::file_size(path) - 100);
    WaveChunkReader r;
    ASSERT_TRUE(r.open(path));
    EXPECT_EQ(r.dataBytes(), 300u);
    std::vector<uint8_t> buf(1000);
    EXPECT_EQ(r.read(buf.data(), buf.size()), 300);
    EXPECT_EQ(r.read(buf.data(), buf.size()), 0);

    for (const std::string junk : {"", "RIFF", "RIFF\x10\0\0\0WAVEfmt "}) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << junk;
        EXPECT_FALSE(r.open(path));
    }
    EXPECT_FALSE(WaveChunkWriter().create(dir.file("no/such/dir.wav"), {}));
}

TEST(PendingOutputFiles, AppearOnlyOnCommitAndVanishOtherwise) {
    TempDir dir;
    const std::string target = dir.file("out.bin");
    std::ofstream(target) << "old";
    {
        PendingOutput p(target);
        ASSERT_FALSE(p.path().empty());
        std::ofstream(p.path()) << "new";
        EXPECT_EQ(dir.entries().size(), 2u);
    }
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.bin"});
    EXPECT_EQ(std::filesystem::file_size(target), 3u);
    {
        PendingOutput p(target);
        std::ofstream(p.path()) << "newer";
        EXPECT_TRUE(p.commit());
    }
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.bin"});
    EXPECT_EQ(std::filesystem::file_size(target), 5u);
    EXPECT_TRUE(PendingOutput(dir.file("missing/x")).path().empty());
}
