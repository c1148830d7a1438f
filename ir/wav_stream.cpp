#include "ir/wav_stream.h"

#include "ir/byte_order.h"

#include <cstring>

namespace kx5 {

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
        unsigned char bytes[WaveFormat::kRecordBytes];
        if (fmt.read(bytes, WaveFormat::kRecordBytes) != WaveFormat::kRecordBytes) return false;
        format_ = WaveFormat::decode(bytes);
    }
    const uint32_t afterFormat = riff_->position();
    readExtraChunks(*riff_);
    riff_->seek(afterFormat);
    data_ = std::make_unique<RiffChunkStream>(riff_.get());
    return data_->find("data");
}

bool WavStream::openWrite(const WaveFormat& format) {
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

bool WavStream::writeFormatChunk(RiffChunkStream& riff, const WaveFormat& format) {
    RiffChunkStream fmt(&riff);
    if (!fmt.create("fmt ")) return false;
    unsigned char bytes[WaveFormat::kRecordBytes];
    format.encode(bytes);
    if (fmt.write(bytes, WaveFormat::kRecordBytes) != WaveFormat::kRecordBytes) return false;
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
    const WaveFormat& f = wav.format();
    info = WavInfo{};
    info.formatTag = f.tag;
    info.channels = f.channels;
    info.bitsPerSample = f.bitsPerSample;
    info.sampleRate = f.sampleRate;
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
