#include "ir/wave_file.h"

#include "ir/byte_order.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace kx5 {

CWaveFile::~CWaveFile() {
    close();
}

void CWaveFile::close() {
    data_.reset();
    riff_.reset();
    file_.reset();
}

CWaveFile::OpenResult CWaveFile::open(const std::string& fileName) {
    close();
    fileName_ = fileName;
    if (fileName.empty()) return OpenResult::NotFound;
    file_ = FileStream::openForReading(fileName);
    if (!file_) return OpenResult::Unsupported;
    auto fail = [this] {
        close();
        return OpenResult::Unsupported;
    };
    // The first RIFF chunk of form "WAVE"; other RIFF chunks are passed over.
    for (;;) {
        riff_ = std::make_unique<RiffChunkStream>(file_.get());
        if (!riff_->find("RIFF")) return fail();
        char form[4];
        if (riff_->read(form, 4) == 4 && std::memcmp(form, "WAVE", 4) == 0) break;
        riff_.reset();
    }
    bool formatRead = false;
    {
        // Closed before the RIFF chunk it reads from.
        RiffChunkStream fmt(riff_.get());
        // The 16-byte record and the extension size when present; a chunk
        // too short for the record is refused rather than read past.
        formatRead =
            fmt.find("fmt ") && fmt.read(format_, sizeof format_) >= WaveFormat::kRecordBytes;
    }
    if (!formatRead) return fail();
    data_ = std::make_unique<RiffChunkStream>(riff_.get());
    if (!data_->find("data")) return fail();
    const WaveFormat f = WaveFormat::decode(format_);
    bitsPerSample_ = f.bitsPerSample;
    sampleRate_ = f.sampleRate;
    channels_ = f.channels;
    formatTag_ = f.tag;
    frames_ = f.blockAlign != 0 ? data_->size() / f.blockAlign : 0;
    if ((formatTag_ != 1 && formatTag_ != 3) || (channels_ != 1 && channels_ != 2)) return fail();
    return OpenResult::Opened;
}

uint32_t CWaveFile::bytesPerSample() const {
    if (formatTag_ == 3) return bitsPerSample_ == 32 ? 4 : 0;
    if (formatTag_ != 1) return 0;
    switch (bitsPerSample_) {
    case 8:
        return 1;
    case 16:
        return 2;
    case 24:
        return 3;
    case 32:
        return 4;
    default:
        return 0;
    }
}

uint64_t CWaveFile::dataBytesPresent() const {
    if (!data_ || !file_) return 0;
    const uint64_t start = uint64_t(riff_->dataStart()) + data_->dataStart();
    const uint64_t inFile = file_->size() > start ? file_->size() - start : 0;
    return std::min<uint64_t>(data_->size(), inFile);
}

uint32_t CWaveFile::dataSize() const {
    return data_ ? data_->size() : 0;
}

namespace {

double convertSample(const unsigned char* p, uint32_t tag, uint32_t bits) {
    if (tag == 3) return double(readLeFloat(p));
    switch (bits) {
    case 8:
        return double(int(p[0]) - 128) * 0x1p-7;
    case 16:
        return double(int16_t(readLe16(p))) * 0x1p-15;
    case 24: {
        int32_t v = int32_t(uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16));
        if (v & 0x800000) v -= 0x1000000;
        return double(v) * 0x1p-23;
    }
    default:
        return double(int32_t(readLe32(p))) * 0x1p-31;
    }
}

} // namespace

uint32_t CWaveFile::readSamples(double* buffer, uint32_t count) {
    const uint32_t width = bytesPerSample();
    if (!data_ || width == 0) return 0;
    constexpr uint32_t kBlockSamples = 16384;
    std::vector<unsigned char> bytes(size_t(kBlockSamples) * width);
    uint32_t done = 0;
    while (done < count) {
        const uint32_t want = std::min(count - done, kBlockSamples);
        const uint32_t got = data_->read(bytes.data(), want * width);
        if (file_->failed()) {
            close();
            return 0;
        }
        const uint32_t whole = got / width;
        for (uint32_t i = 0; i < whole; ++i)
            buffer[done + i] =
                convertSample(bytes.data() + size_t(i) * width, formatTag_, bitsPerSample_);
        done += whole;
        if (got < want * width) break;
    }
    return done;
}

} // namespace kx5
