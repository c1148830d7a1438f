#include "irfile/prepared_source.h"

#include "audio/files/wave_chunk_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace kx5 {
namespace {

// FNV-1a, 64 bits.
class Key {
  public:
    void add(const void* data, size_t n) {
        const auto* p = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < n; ++i) {
            hash_ ^= p[i];
            hash_ *= 0x100000001B3ull;
        }
    }
    template <typename T> void add(const T& v) { add(&v, sizeof v); }
    std::string hex() const {
        char text[17];
        std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash_));
        return text;
    }

  private:
    uint64_t hash_ = 0xCBF29CE484222325ull;
};

// Names the copy by the file (path, size, modification time) and the use.
std::string copyName(const std::string& path, ChannelUse use) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    Key key;
    key.add(path.data(), path.size());
    key.add(int64_t(st.st_size));
    key.add(int64_t(st.st_mtim.tv_sec));
    key.add(int64_t(st.st_mtim.tv_nsec));
    key.add(int64_t(st.st_ino));
    key.add(int(use));
    return std::string(kCopyPrefix) + key.hex() + ".wav";
}

void putSample(uint8_t* out, double v, const WaveFormat& f) {
    if (f.tag == kWaveTagFloat) {
        const float x = float(v);
        std::memcpy(out, &x, 4); // little-endian host
        return;
    }
    const int bits = f.bitsPerSample;
    const double scale = std::ldexp(1.0, bits - 1);
    const double top = scale - 1.0;
    const int64_t q = int64_t(std::clamp(std::nearbyint(v * scale), -scale, top));
    if (bits == 8) {
        out[0] = uint8_t(q + 128);
        return;
    }
    for (int b = 0; b < bits / 8; ++b)
        out[b] = uint8_t(uint64_t(q) >> (8 * b));
}

bool writeCopy(const std::string& path, const SourceSamples& s, const WaveFormat& f, bool mix) {
    const std::string partial = path + ".partial";
    WaveChunkWriter out;
    if (!out.create(partial, f)) return false;
    const size_t width = f.bitsPerSample / 8;
    const size_t in = s.format.channels;
    constexpr size_t kBlock = 4096;
    std::vector<uint8_t> bytes(kBlock * f.blockAlign);
    bool ok = true;
    for (size_t frame = 0; ok && frame < s.frames; frame += kBlock) {
        const size_t n = std::min<size_t>(kBlock, s.frames - frame);
        uint8_t* p = bytes.data();
        for (size_t i = 0; i < n; ++i) {
            const double* v = s.interleaved.data() + (frame + i) * in;
            if (mix) {
                putSample(p, (v[0] + v[1]) * 0.5, f);
                p += width;
            } else {
                for (size_t c = 0; c < in; ++c, p += width)
                    putSample(p, v[c], f);
            }
        }
        ok = out.write(bytes.data(), size_t(p - bytes.data()));
    }
    ok = out.close() && ok;
    std::error_code ec;
    if (ok) std::filesystem::rename(partial, path, ec);
    if (!ok || ec) {
        std::filesystem::remove(partial, ec);
        return false;
    }
    return true;
}

// Only the newest copies stay.
void removeOldCopies(const std::string& folder) {
    std::error_code ec;
    std::vector<std::pair<std::filesystem::file_time_type, std::filesystem::path>> copies;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = e.path().filename().string();
        if (name.rfind(kCopyPrefix, 0) != 0 || !e.is_regular_file(ec)) continue;
        copies.emplace_back(e.last_write_time(ec), e.path());
    }
    if (copies.size() <= size_t(kKeptCopies)) return;
    std::sort(copies.begin(), copies.end(),
              [](const auto& a, const auto& b) { return a.first > b.first; });
    for (size_t i = kKeptCopies; i < copies.size(); ++i)
        std::filesystem::remove(copies[i].second, ec);
}

} // namespace

WaveFormat plainFormatFor(const SourceFormat& source, bool mixed) {
    if (mixed) return WaveFormat::uncompressed(kWaveTagFloat, 1, source.sampleRate, 32);
    const uint16_t channels = uint16_t(source.channels);
    if (source.floating)
        return WaveFormat::uncompressed(kWaveTagFloat, channels, source.sampleRate, 32);
    uint16_t bits = 32;
    for (uint16_t b : {8, 16, 24})
        if (source.bits != 0 && source.bits <= b) {
            bits = b;
            break;
        }
    return WaveFormat::uncompressed(kWaveTagPcm, channels, source.sampleRate, bits);
}

Preparation prepareSource(const std::string& path, ChannelUse use, const std::string& tempFolder) {
    const SourceDescription described = describeSource(path);
    if (auto* refused = std::get_if<SourceRefusal>(&described)) return *refused;
    PreparedSource p;
    p.source = std::get<SourceFormat>(described);
    p.mixed = use == ChannelUse::Mix && p.source.channels == 2;
    if (use == ChannelUse::Mix && !p.mixed) return SourceRefusal{"a mono file has nothing to mix"};
    if (p.source.direct && !p.mixed) {
        p.path = path;
        return p;
    }
    if (tempFolder.empty()) return SourceRefusal{"no temporary folder to decode into"};
    p.decoded = true;
    p.path = tempFolder + copyName(path, use);
    const uint64_t maxFrames = uint64_t(kMaxPreparedSeconds * p.source.sampleRate);
    p.written = plainFormatFor(p.source, p.mixed);
    // Made before from the same file.
    struct stat st {};
    if (::stat(p.path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        p.cut = p.source.frames > maxFrames;
        return p;
    }
    SourceRead read = readSource(path, maxFrames);
    if (auto* refused = std::get_if<SourceRefusal>(&read)) return *refused;
    SourceSamples& samples = std::get<SourceSamples>(read);
    p.source = samples.format;
    p.cut = samples.cut;
    if (!writeCopy(p.path, samples, p.written, p.mixed))
        return SourceRefusal{"the decoded copy could not be written"};
    removeOldCopies(tempFolder);
    return p;
}

} // namespace kx5
