#include "ir/wav_stream.h"

#include "ir/byte_order.h"

#include <cstring>

namespace kx5 {

WavFormat WavFormat::decode(const unsigned char* b) {
    WavFormat f;
    f.formatTag = readLe16(b);
    f.channels = readLe16(b + 2);
    f.samplesPerSec = readLe32(b + 4);
    f.avgBytesPerSec = readLe32(b + 8);
    f.blockAlign = readLe16(b + 12);
    f.bitsPerSample = readLe16(b + 14);
    return f;
}

void WavFormat::encode(unsigned char* b) const {
    writeLe16(b, formatTag);
    writeLe16(b + 2, channels);
    writeLe32(b + 4, samplesPerSec);
    writeLe32(b + 8, avgBytesPerSec);
    writeLe16(b + 12, blockAlign);
    writeLe16(b + 14, bitsPerSample);
}

WavStream::~WavStream() {
    data_.reset();
    riff_.reset();
}

uint32_t WavStream::size() const {
    return data_ ? data_->size() : 0;
}
uint32_t WavStream::position() const {
    return data_ ? data_->position() : 0;
}
bool WavStream::seek(uint32_t offset) {
    return data_ && data_->seek(offset);
}
bool WavStream::skip(int64_t delta) {
    return data_ && data_->skip(delta);
}
uint32_t WavStream::read(void* buffer, uint32_t count) {
    return data_ ? data_->read(buffer, count) : 0;
}
uint32_t WavStream::write(const void* buffer, uint32_t count) {
    return data_ ? data_->write(buffer, count) : 0;
}

bool WavStream::openRead() {
    if (riff_) return false;
    riff_ = std::make_unique<RiffChunkStream>(&source_);
    if (!riff_->find("RIFF")) return false;
    char form[4];
    if (riff_->read(form, 4) != 4 || std::memcmp(form, "WAVE", 4) != 0) return false;
    {
        RiffChunkStream fmt(riff_.get());
        if (!fmt.find("fmt ")) return false;
        unsigned char bytes[WavFormat::kSize];
        if (fmt.read(bytes, WavFormat::kSize) != WavFormat::kSize) return false;
        format_ = WavFormat::decode(bytes);
    }
    const uint32_t afterFormat = riff_->position();
    readExtraChunks(*riff_);
    riff_->seek(afterFormat);
    data_ = std::make_unique<RiffChunkStream>(riff_.get());
    return data_->find("data");
}

bool WavStream::openWrite(const WavFormat& format) {
    if (riff_) return false;
    format_ = format;
    riff_ = std::make_unique<RiffChunkStream>(&source_);
    if (!riff_->create("RIFF")) return false;
    if (riff_->write("WAVE", 4) != 4) return false;
    if (!writeFormatChunk(*riff_, format_)) return false;
    if (!writeExtraChunks(*riff_)) return false;
    data_ = std::make_unique<RiffChunkStream>(riff_.get());
    return data_->create("data");
}

bool WavStream::readExtraChunks(RiffChunkStream&) {
    return true;
}

bool WavStream::writeFormatChunk(RiffChunkStream& riff, const WavFormat& format) {
    RiffChunkStream fmt(&riff);
    if (!fmt.create("fmt ")) return false;
    unsigned char bytes[WavFormat::kSize];
    format.encode(bytes);
    if (fmt.write(bytes, WavFormat::kSize) != WavFormat::kSize) return false;
    return writeFormatExtra(fmt);
}

bool WavStream::writeFormatExtra(RiffChunkStream&) {
    return true;
}
bool WavStream::writeExtraChunks(RiffChunkStream&) {
    return true;
}

bool readWavInfo(DataStream& stream, WavInfo& info) {
    WavStream wav(stream);
    if (!wav.openRead()) return false;
    const WavFormat& f = wav.format();
    info = WavInfo{};
    info.formatTag = f.formatTag;
    info.channels = f.channels;
    info.bitsPerSample = f.bitsPerSample;
    info.sampleRate = f.samplesPerSec;
    info.frames = f.blockAlign != 0 ? wav.size() / f.blockAlign : 0;
    info.tempo = -1.0f;
    RiffChunkStream& riff = *wav.riffStream();
    const uint32_t remembered = riff.position();
    if (riff.seek(4)) {
        RiffChunkStream acid(&riff);
        unsigned char bytes[24];
        if (acid.find("acid") && acid.read(bytes, 24) == 24) {
            info.meterDenominator = readLe16(bytes + 16);
            info.meterNumerator = readLe16(bytes + 18);
            info.beatCount = readLe32(bytes + 12);
            info.tempo = readLeFloat(bytes + 20);
        }
    }
    riff.seek(remembered);
    return true;
}

} // namespace kx5
