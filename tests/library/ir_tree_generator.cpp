#include "tests/library/ir_tree_generator.h"

#include "tests/ir/generated_ir.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

namespace kx5::test {
namespace {

constexpr uint32_t kBaseRate = 96000;
constexpr int kBases = 48;

const char* const kVendors[] = {"Redwood Audio", "Cabinet Foundry",     "Stone Hall",
                                "Tonehaus",      "Northfield Impulses", "Garage Works",
                                "Amber Cab Co",  "Überklang",           "Lowland Sound"};
const char* const kCabinets[] = {"4x12 Closed Back", "2x12 Open Back", "1x12 Combo",
                                 "4x10 Bass",        "2x12 Vertical",  "1x15 Jazz"};
const char* const kSpeakers[] = {"V30",       "G12M Greenback", "G12H",  "Alnico Blue",
                                 "Creamback", "Jensen P12Q",    "EVM12L"};
const char* const kMics[] = {"SM57", "MD421", "R121", "U87", "M160", "e906", "SM7B"};
const char* const kPositions[] = {"Cap", "Cap Edge", "Cone", "Cone Edge", "Off Axis 45", "Back"};

template <size_t N> const char* pick(std::mt19937& rng, const char* const (&list)[N]) {
    return list[std::uniform_int_distribution<size_t>(0, N - 1)(rng)];
}

struct Kind {
    uint16_t tag;
    uint16_t bits;
};

Kind pickKind(std::mt19937& rng) {
    const int r = std::uniform_int_distribution<int>(0, 99)(rng);
    if (r < 25) return {1, 16};
    if (r < 75) return {1, 24};
    if (r < 95) return {3, 32};
    if (r < 99) return {1, 32};
    return {1, 8};
}

uint32_t pickRate(std::mt19937& rng) {
    const int r = std::uniform_int_distribution<int>(0, 99)(rng);
    if (r < 30) return 44100;
    if (r < 75) return 48000;
    if (r < 80) return 88200;
    if (r < 95) return 96000;
    return 192000;
}

double pickSeconds(std::mt19937& rng) {
    const int r = std::uniform_int_distribution<int>(0, 99)(rng);
    if (r < 15) return 0.1;
    if (r < 50) return 0.2;
    if (r < 85) return 0.5;
    if (r < 97) return 1.0;
    return 2.0;
}

void put(std::string& b, uint64_t v, int width) {
    for (int i = 0; i < width; ++i)
        b.push_back(char(uint8_t(v >> (8 * i))));
}

void putSample(char* p, double v, Kind k) {
    if (k.tag == 3) {
        const float f = float(v);
        std::memcpy(p, &f, 4);
        return;
    }
    const double scale = double(int64_t(1) << (k.bits - 1));
    int64_t q = std::llround(v * scale);
    q = std::clamp<int64_t>(q, -int64_t(scale), int64_t(scale) - 1);
    if (k.bits == 8) q += 128;
    for (int i = 0; i < k.bits / 8; ++i)
        p[i] = char(uint8_t(uint64_t(q) >> (8 * i)));
}

// The whole file: header and samples (channels interleaved).
std::string waveFile(Kind k, uint32_t rate, const std::vector<std::vector<double>>& channels,
                     bool extensible) {
    const uint16_t count = uint16_t(channels.size());
    const uint16_t width = k.bits / 8;
    const uint32_t frames = uint32_t(channels[0].size());
    const uint32_t dataBytes = frames * count * width;
    const uint32_t fmtBytes = extensible ? 40 : 16;
    std::string b = "RIFF";
    put(b, 4 + 8 + fmtBytes + 8 + dataBytes, 4);
    b += "WAVEfmt ";
    put(b, fmtBytes, 4);
    put(b, extensible ? 0xFFFE : k.tag, 2);
    put(b, count, 2);
    put(b, rate, 4);
    put(b, uint64_t(rate) * count * width, 4);
    put(b, count * width, 2);
    put(b, k.bits, 2);
    if (extensible) {
        put(b, 22, 2);
        put(b, k.bits, 2);
        put(b, count == 1 ? 4 : 3, 4);
        put(b, k.tag, 2);
        b += std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    }
    b += "data";
    put(b, dataBytes, 4);
    const size_t start = b.size();
    b.resize(start + dataBytes);
    char* p = b.data() + start;
    for (uint32_t f = 0; f < frames; ++f)
        for (uint16_t c = 0; c < count; ++c, p += width)
            putSample(p, channels[c][f], k);
    return b;
}

// A variation of a base response at another rate, length, tone and level.
std::vector<double> variation(const std::vector<double>& base, uint32_t rate, size_t frames,
                              double smoothing, double gain) {
    std::vector<double> out(frames, 0.0);
    const double step = double(kBaseRate) / rate;
    double y = 0.0;
    for (size_t i = 0; i < frames; ++i) {
        const double at = double(i) * step;
        const size_t j = size_t(at);
        double x = 0.0;
        if (j + 1 < base.size()) x = base[j] + (base[j + 1] - base[j]) * (at - double(j));
        y += smoothing * (x - y);
        out[i] = y * gain;
    }
    // The first sample counts as the start of the sound.
    if (std::fabs(out[0]) < 0.01) out[0] = 0.25 * gain;
    return out;
}

std::string twoDigits(size_t n) {
    return (n < 10 ? "0" : "") + std::to_string(n);
}

} // namespace

GeneratedTree generateIrTree(const std::string& root, size_t count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    std::vector<std::vector<double>> bases;
    for (int i = 0; i < kBases; ++i)
        bases.push_back(generateImpulseResponse(seed * 1000 + uint32_t(i), kBaseRate, kBaseRate));

    GeneratedTree tree;
    for (size_t n = 0; n < count; ++n) {
        const char* vendor = pick(rng, kVendors);
        const char* cabinet = pick(rng, kCabinets);
        const char* speaker = pick(rng, kSpeakers);
        const char* mic = pick(rng, kMics);
        std::string folder = root + "/" + twoDigits(n % 24) + " " + vendor + " Pack/" + cabinet;
        const int depth = std::uniform_int_distribution<int>(0, 2)(rng);
        if (depth >= 1) folder += std::string("/") + speaker;
        if (depth >= 2) folder += std::string("/") + mic;
        std::filesystem::create_directories(folder);

        const Kind kind = pickKind(rng);
        const uint32_t rate = pickRate(rng);
        const double seconds = pickSeconds(rng);
        const bool stereo = uni(rng) < 0.2;
        const std::string name = std::string(vendor) + " " + cabinet + " " + speaker + " " + mic +
                                 " " + pick(rng, kPositions) + " " + std::to_string(1 + n % 6) +
                                 "in take " + std::to_string(n) + " (" +
                                 std::to_string(rate / 1000) + "k " + std::to_string(kind.bits) +
                                 "bit " + std::to_string(int(seconds * 1000)) + "ms" +
                                 (stereo ? " stereo" : "") + ").wav";
        const std::string path = folder + "/" + name;

        std::string bytes;
        if (n % 300 == 21) {
            bytes = "Generated text that only looks like a WAV file by its name.\n";
            ++tree.unreadable;
        } else {
            const auto& base = bases[size_t(rng() % bases.size())];
            const size_t frames = size_t(seconds * rate);
            const double smoothing = 0.08 + 0.92 * uni(rng);
            const double gain = 0.3 + 0.6 * uni(rng);
            std::vector<std::vector<double>> channels{
                variation(base, rate, frames, smoothing, gain)};
            if (stereo)
                channels.push_back(
                    variation(base, rate, frames, std::min(1.0, smoothing * 1.3), gain * 0.9));
            const bool extensible = n % 200 == 7;
            bytes = waveFile(kind, rate, channels, extensible);
            if (n % 500 == 13) bytes.resize(bytes.size() - 100); // cut short
            if (extensible || n % 500 == 13) ++tree.unreadable;
        }
        std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
        ++tree.files;
        tree.bytes += bytes.size();
    }
    return tree;
}

} // namespace kx5::test
