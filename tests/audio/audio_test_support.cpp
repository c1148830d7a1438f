#include "audio_test_support.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace kx5::test {
namespace {

void put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void putId(std::vector<uint8_t>& out, const char* id) {
    out.insert(out.end(), id, id + 4);
}
uint32_t get32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint16_t get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

} // namespace

void writeWave(const std::string& path, const WaveSpec& s, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> fmt;
    const uint16_t blockAlign = static_cast<uint16_t>(s.bits / 8 * s.channels);
    put16(fmt, s.extensible ? 0xFFFE : s.tag);
    put16(fmt, s.channels);
    put32(fmt, s.rate);
    put32(fmt, blockAlign * s.rate);
    put16(fmt, blockAlign);
    put16(fmt, s.bits);
    if (s.extensible) {
        put16(fmt, 22);
        put16(fmt, s.bits);                                       // valid bits
        put32(fmt, s.channels == 2 ? 3 : (1u << s.channels) - 1); // channel mask
        put16(fmt, s.tag);                                        // sub-format GUID
        const uint8_t rest[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                  0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        fmt.insert(fmt.end(), rest, rest + 14);
    }
    std::vector<uint8_t> file;
    putId(file, "RIFF");
    put32(file, static_cast<uint32_t>(4 + 8 + fmt.size() + 8 + data.size() + (data.size() & 1)));
    putId(file, "WAVE");
    putId(file, "fmt ");
    put32(file, static_cast<uint32_t>(fmt.size()));
    file.insert(file.end(), fmt.begin(), fmt.end());
    putId(file, "data");
    put32(file, static_cast<uint32_t>(data.size()));
    file.insert(file.end(), data.begin(), data.end());
    if (data.size() & 1) file.push_back(0);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
}

std::vector<uint8_t> pcm16(const std::vector<int16_t>& samples) {
    std::vector<uint8_t> out;
    for (int16_t v : samples)
        put16(out, static_cast<uint16_t>(v));
    return out;
}

std::vector<int16_t> samples16(const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> out(bytes.size() / 2);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<int16_t>(get16(&bytes[i * 2]));
    return out;
}

std::vector<int16_t> sine16(size_t frames, int channels, uint32_t rate, double base,
                            double amplitude) {
    std::vector<int16_t> out(frames * channels);
    for (size_t f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c)
            out[f * channels + c] = static_cast<int16_t>(
                32767 * amplitude * std::sin(2 * M_PI * base * (c + 1) * f / rate));
    return out;
}

ParsedWave readWave(const std::string& path) {
    ParsedWave w;
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), {});
    if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0 ||
        std::memcmp(file.data() + 8, "WAVE", 4) != 0 || get32(&file[4]) + 8 != file.size())
        return w;
    size_t pos = 12;
    bool fmt = false;
    while (pos + 8 <= file.size()) {
        const uint32_t size = get32(&file[pos + 4]);
        if (pos + 8 + size > file.size()) return w;
        const uint8_t* body = &file[pos + 8];
        if (std::memcmp(&file[pos], "fmt ", 4) == 0) {
            w.formatSize = size;
            w.tag = get16(body);
            w.channels = get16(body + 2);
            w.rate = get32(body + 4);
            w.byteRate = get32(body + 8);
            w.blockAlign = get16(body + 12);
            w.bits = get16(body + 14);
            fmt = true;
        } else if (std::memcmp(&file[pos], "data", 4) == 0) {
            w.data.assign(body, body + size);
            w.ok = fmt;
        }
        pos += 8 + size + (size & 1);
    }
    return w;
}

TestBridge::TestBridge() {
    paths.appName = "kx5-audio-test";
    paths.dataFolder = temp.path();
    paths.configFolder = temp.path();
    paths.tempFolder = temp.path();
    objects = std::make_unique<NativeObjects>(js, paths);
}

TestBridge::~TestBridge() {
    objects.reset();
}

std::string TestBridge::nextEvent(std::chrono::milliseconds wait) {
    const auto end = std::chrono::steady_clock::now() + wait;
    for (;;) {
        std::string e = js.pullEvent();
        if (!e.empty() || std::chrono::steady_clock::now() >= end) return e;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::vector<std::string> TestBridge::eventsUntil(const std::string& prefix,
                                                 std::chrono::milliseconds wait) {
    std::vector<std::string> events;
    const auto end = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < end) {
        std::string e = js.pullEvent();
        if (e.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        events.push_back(e);
        if (e.rfind(prefix, 0) == 0) break;
    }
    return events;
}

Fifo::Fifo(std::string where) : path(std::move(where)) {
    if (mkfifo(path.c_str(), 0600) != 0) path.clear();
}

Fifo::~Fifo() {
    if (!path.empty()) ::unlink(path.c_str());
}

std::optional<std::string> Fifo::answerOf(const std::function<std::string()>& call) {
    auto answer = std::async(std::launch::async, call);
    if (answer.wait_for(std::chrono::seconds(5)) == std::future_status::ready) return answer.get();
    // A reader blocked in open() goes on once a writer came and went.
    while (answer.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) ::close(fd);
    }
    answer.get();
    return std::nullopt;
}

} // namespace kx5::test
