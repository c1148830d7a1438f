#include "audio/files/audio_file_ops.h"

#include "audio/engines/audio_file_reader.h"

#include <picojson.h>

#include <cstdio>

namespace kx5 {

bool readAudioFormat(const std::string& path, WaveFormat& format, float* duration) {
    auto reader = AudioFileReader::open(path);
    if (!reader) return false;
    format = reader->sourceFormat();
    if (duration) *duration = static_cast<float>(reader->durationSeconds());
    return true;
}

std::string audioFormatAnswer(const std::string& path) {
    WaveFormat f;
    float duration = 0;
    const bool ok = readAudioFormat(path, f, &duration);
    if (!ok) {
        f = {};
        duration = 0;
    }
    std::string name;
    if (!ok)
        name = "error";
    else if (f.tag == kWaveTagPcm || f.tag == kWaveTagFloat)
        name = "PCM";
    else if (f.tag == kWaveTagMp3)
        name = "MP3";
    else if (f.tag == kWaveTagAac)
        name = "AAC";
    else {
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%04X", f.tag);
        name = buf;
    }
    picojson::object o;
    o["format"] = picojson::value(name);
    o["channels"] = picojson::value(static_cast<double>(f.channels));
    o["samplerate"] = picojson::value(static_cast<double>(f.sampleRate));
    o["bitdepth"] = picojson::value(f.tag == kWaveTagFloat ? 0.0 : f.bitsPerSample);
    o["bitrate"] = picojson::value(static_cast<double>(f.avgBytesPerSec) * 8);
    o["duration"] = picojson::value(static_cast<double>(duration));
    return picojson::value(o).serialize();
}

} // namespace kx5
