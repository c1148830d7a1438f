#include "audio/files/wave_chunk_file.h"

#include <algorithm>
#include <cstring>
#include <sys/types.h>

namespace kx5 {
namespace {

constexpr size_t kFormatBytes = 18;
constexpr uint64_t kHeaderBytes = 12 + 8 + kFormatBytes + 8;
constexpr uint64_t kRiffLimit = 0xFFFFFFFFull;

uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
void put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

bool fileSize(std::FILE* f, uint64_t& size) {
    if (fseeko(f, 0, SEEK_END) != 0) return false;
    const off_t end = ftello(f);
    if (end < 0) return false;
    size = static_cast<uint64_t>(end);
    return fseeko(f, 0, SEEK_SET) == 0;
}

} // namespace

bool WaveChunkReader::open(const std::string& path) {
    close();
    format_ = {};
    dataBytes_ = dataRead_ = 0;
    FileHandle f = openFile(path, "rb");
    if (!f) return false;
    uint64_t size = 0;
    if (!fileSize(f.get(), size)) return false;
    uint8_t riff[12];
    if (std::fread(riff, 1, 12, f.get()) != 12) return false;
    if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0) return false;
    const uint64_t riffEnd = std::min<uint64_t>(size, 8 + static_cast<uint64_t>(le32(riff + 4)));

    bool haveFormat = false;
    uint64_t pos = 12;
    while (pos + 8 <= riffEnd) {
        uint8_t head[8];
        if (fseeko(f.get(), static_cast<off_t>(pos), SEEK_SET) != 0 ||
            std::fread(head, 1, 8, f.get()) != 8)
            return false;
        const uint64_t chunkSize = le32(head + 4);
        const uint64_t body = pos + 8;
        if (std::memcmp(head, "fmt ", 4) == 0) {
            uint8_t fmt[40] = {};
            const size_t want = static_cast<size_t>(std::min<uint64_t>(chunkSize, sizeof fmt));
            if (want < WaveFormat::kRecordBytes || std::fread(fmt, 1, want, f.get()) != want)
                return false;
            format_ = WaveFormat::decode(fmt);
            if (format_.tag == kWaveTagExtensible) {
                // The sub-format identifier starts at byte 24.
                if (want < 26) return false;
                format_.tag = le16(fmt + 24);
            }
            haveFormat = true;
        } else if (std::memcmp(head, "data", 4) == 0) {
            if (!haveFormat || format_.blockAlign == 0 || format_.channels == 0) return false;
            dataBytes_ = std::min(chunkSize, size > body ? size - body : 0);
            if (fseeko(f.get(), static_cast<off_t>(body), SEEK_SET) != 0) return false;
            file_ = std::move(f);
            return true;
        }
        pos = body + chunkSize + (chunkSize & 1);
    }
    return false;
}

long WaveChunkReader::read(uint8_t* buffer, size_t n) {
    if (!file_) return -1;
    const uint64_t left = dataBytes_ - dataRead_;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(left, n));
    if (want == 0) return 0;
    const size_t got = std::fread(buffer, 1, want, file_.get());
    if (got < want && std::ferror(file_.get())) return -1;
    dataRead_ += got;
    return static_cast<long>(got);
}

bool WaveChunkWriter::create(const std::string& path, const WaveFormat& format) {
    close();
    file_ = openFile(path, "wb");
    if (!file_) return false;
    dataBytes_ = 0;
    failed_ = false;
    uint8_t head[kHeaderBytes] = {};
    std::memcpy(head, "RIFF", 4);
    std::memcpy(head + 8, "WAVEfmt ", 8);
    put32(head + 16, kFormatBytes);
    uint8_t* fmt = head + 20;
    format.encode(fmt);
    put16(fmt + 16, 0); // no extension
    std::memcpy(head + 20 + kFormatBytes, "data", 4);
    if (std::fwrite(head, 1, sizeof head, file_.get()) != sizeof head) {
        file_.reset();
        std::remove(path.c_str());
        return false;
    }
    return true;
}

bool WaveChunkWriter::write(const uint8_t* data, size_t n) {
    if (!file_ || failed_) return false;
    if (kHeaderBytes + dataBytes_ + n + 1 > kRiffLimit ||
        std::fwrite(data, 1, n, file_.get()) != n) {
        failed_ = true;
        return false;
    }
    dataBytes_ += n;
    return true;
}

bool WaveChunkWriter::close() {
    if (!file_) return false;
    bool ok = !failed_;
    std::FILE* f = file_.get();
    const bool pad = (dataBytes_ & 1) != 0;
    if (ok && pad) ok = std::fputc(0, f) != EOF;
    uint8_t size[4];
    if (ok) {
        put32(size, static_cast<uint32_t>(dataBytes_));
        ok = fseeko(f, kHeaderBytes - 4, SEEK_SET) == 0 && std::fwrite(size, 1, 4, f) == 4;
    }
    if (ok) {
        put32(size, static_cast<uint32_t>(kHeaderBytes - 8 + dataBytes_ + (pad ? 1 : 0)));
        ok = fseeko(f, 4, SEEK_SET) == 0 && std::fwrite(size, 1, 4, f) == 4;
    }
    ok = std::fclose(file_.release()) == 0 && ok;
    return ok;
}

} // namespace kx5
