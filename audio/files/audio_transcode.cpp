#include "audio/engines/audio_encoder_writer.h"
#include "audio/engines/audio_file_reader.h"
#include "audio/files/audio_file_ops.h"
#include "audio/files/pending_output.h"
#include "audio/files/wave_chunk_file.h"

#include <functional>
#include <vector>

namespace kx5 {
namespace {

// Packs 32-bit samples into their top three bytes (24-bit little endian).
void packTo24(std::vector<uint8_t>& data) {
    const size_t samples = data.size() / 4;
    for (size_t i = 0; i < samples; ++i) {
        data[i * 3] = data[i * 4 + 1];
        data[i * 3 + 1] = data[i * 4 + 2];
        data[i * 3 + 2] = data[i * 4 + 3];
    }
    data.resize(samples * 3);
}

bool decodeInto(AudioFileReader& reader, const std::function<bool(std::vector<uint8_t>&)>& sink) {
    std::vector<uint8_t> chunk;
    for (;;) {
        switch (reader.read(chunk)) {
        case AudioFileReader::Result::Data:
            if (!sink(chunk)) return false;
            break;
        case AudioFileReader::Result::End:
            return true;
        case AudioFileReader::Result::Error:
            return false;
        }
    }
}

bool transcodeToWave(AudioFileReader& reader, const std::string& path, const WaveFormat& target) {
    AVSampleFormat decoded = AV_SAMPLE_FMT_NONE;
    if (target.tag == kWaveTagFloat && target.bitsPerSample == 32)
        decoded = AV_SAMPLE_FMT_FLT;
    else if (target.tag == kWaveTagPcm && target.bitsPerSample == 8)
        decoded = AV_SAMPLE_FMT_U8;
    else if (target.tag == kWaveTagPcm && target.bitsPerSample == 16)
        decoded = AV_SAMPLE_FMT_S16;
    else if (target.tag == kWaveTagPcm &&
             (target.bitsPerSample == 24 || target.bitsPerSample == 32))
        decoded = AV_SAMPLE_FMT_S32;
    if (decoded == AV_SAMPLE_FMT_NONE) return false;
    if (!reader.setOutput(target.channels, static_cast<int>(target.sampleRate), decoded))
        return false;
    const WaveFormat format = WaveFormat::uncompressed(target.tag, target.channels,
                                                       target.sampleRate, target.bitsPerSample);
    WaveChunkWriter writer;
    if (!writer.create(path, format)) return false;
    const bool pack24 = target.bitsPerSample == 24;
    const bool ok = decodeInto(reader, [&](std::vector<uint8_t>& chunk) {
        if (pack24) packTo24(chunk);
        return writer.write(chunk.data(), chunk.size());
    });
    return writer.close() && ok;
}

bool transcodeEncoded(AudioFileReader& reader, const std::string& path, const WaveFormat& target) {
    const bool aac = target.tag == kWaveTagAac;
    const int rate = static_cast<int>(target.sampleRate);
    if (!reader.setOutput(target.channels, rate, AV_SAMPLE_FMT_FLT)) return false;
    auto writer = AudioEncoderWriter::create(
        path, aac ? "ipod" : "mp3",
        aac ? AudioEncoderWriter::Codec::Aac : AudioEncoderWriter::Codec::Mp3, target.channels,
        rate, static_cast<int64_t>(target.avgBytesPerSec) * 8, AV_SAMPLE_FMT_FLT);
    if (!writer) return false;
    const int blockAlign = reader.outputBlockAlign();
    const bool ok = decodeInto(reader, [&](std::vector<uint8_t>& chunk) {
        return writer->write(chunk.data(), static_cast<int>(chunk.size() / blockAlign));
    });
    return writer->finish() && ok;
}

} // namespace

bool transcodeAudio(const std::string& input, const std::string& output, const WaveFormat& target) {
    if (target.channels == 0 || target.sampleRate == 0) return false;
    const bool wave = target.isPcmOrFloat();
    if (!wave && target.tag != kWaveTagAac && target.tag != kWaveTagMp3) return false;
    auto reader = AudioFileReader::open(input);
    if (!reader) return false;
    PendingOutput out(output);
    if (out.path().empty()) return false;
    const bool ok = wave ? transcodeToWave(*reader, out.path(), target)
                         : transcodeEncoded(*reader, out.path(), target);
    return ok && out.commit();
}

} // namespace kx5
