// Speed of the audio file operations on a 3-minute stereo file, as multiples
// of real time, and of the units' per-buffer processing.
//   build/tests/audio/audio_benchmark [seconds]
#include "audio/files/audio_file_ops.h"
#include "audio/players/sampler_player.h"
#include "audio/units/level_meter.h"
#include "audio_test_support.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>

using namespace kx5;
using namespace kx5::test;

namespace {

double seconds(const std::function<bool()>& work, bool& ok) {
    const auto start = std::chrono::steady_clock::now();
    ok = work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void report(const char* name, double audioSeconds, const std::function<bool()>& work) {
    bool ok = false;
    const double t = seconds(work, ok);
    std::printf("%-28s %7.3f s  %8.1f x realtime%s\n", name, t, audioSeconds / t,
                ok ? "" : "  (FAILED)");
}

} // namespace

int main(int argc, char** argv) {
    const double length = argc > 1 ? std::atof(argv[1]) : 180.0;
    const uint32_t rate = 44100;
    const size_t frames = static_cast<size_t>(length * rate);
    TempDir dir;
    std::vector<int16_t> samples = sine16(frames, 2, rate, 220, 0.4);
    std::mt19937 noise(1);
    for (auto& s : samples)
        s = static_cast<int16_t>(s + static_cast<int>(noise() % 2001) - 1000);
    const std::string wav = dir.file("long.wav");
    writeWave(wav, {}, pcm16(samples));
    samples.clear();
    std::printf("%.0f s of 16-bit stereo at 44.1 kHz\n", length);

    const std::string mp3 = dir.file("long.mp3");
    const std::string m4a = dir.file("long.m4a");
    report("WAV -> MP3 (192 kbit/s)", length, [&] {
        WaveFormat f{kWaveTagMp3, 2, rate, 192000 / 8, 0, 0};
        return transcodeAudio(wav, mp3, f);
    });
    report("MP3 -> WAV (16-bit)", length, [&] {
        return transcodeAudio(mp3, dir.file("from_mp3.wav"),
                              WaveFormat::uncompressed(kWaveTagPcm, 2, rate, 16));
    });
    report("WAV -> M4A (AAC 128 kbit/s)", length, [&] {
        WaveFormat f{kWaveTagAac, 2, rate, 128000 / 8, 0, 16};
        return transcodeAudio(wav, m4a, f);
    });
    report("WAV -> WAV (float, 48 kHz)", length, [&] {
        return transcodeAudio(wav, dir.file("f48.wav"),
                              WaveFormat::uncompressed(kWaveTagFloat, 2, 48000, 32));
    });
    report("split WAV into 2 mono", length, [&] {
        return splitWave(wav, {dir.file("l.wav"), dir.file("r.wav")}, dir.path());
    });
    report("reverse WAV", length,
           [&] { return reverseWave(wav, dir.file("rev.wav"), dir.path()); });
    report("reverse MP3", length,
           [&] { return reverseWave(mp3, dir.file("rev2.wav"), dir.path()); });

    // One 1024-frame unit buffer: gain, meter, and a sampler ramp.
    std::vector<int16_t> buffer = sine16(1024, 2, rate);
    LevelMeter meter(4);
    const int rounds = 20000;
    report("unit buffer processing", rounds * 1024.0 / rate, [&] {
        for (int i = 0; i < rounds; ++i) {
            float l = 0, r = 0;
            applyGain(buffer.data(), 1024, 2, volumeGain(0.999f), l, r);
            meter.push(1024, l, r);
            rampSamples(buffer.data(), 1024, 2, 0.999f, 1.0f);
        }
        return meter.peakPower(0) <= 0;
    });
    return 0;
}
