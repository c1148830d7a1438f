#include "audio/modules/native_call_audio.h"

#include "audio/devices/audio_devices.h"
#include "audio/files/audio_file_ops.h"
#include "audio/files/audio_workers.h"
#include "bridge/app_paths.h"
#include "bridge/call_arguments.h"
#include "bridge/json_parse.h"
#include "bridge/native_objects.h"

#include <picojson.h>

#include <cmath>
#include <stdexcept>

namespace kx5 {
namespace {

std::string stringMember(const picojson::object& o, const char* key) {
    return requiredMember(o, key).get<std::string>();
}

double numberMember(const picojson::object& o, const char* key) {
    return requiredMember(o, key).get<double>();
}

// A value that doesn't fit its field leaves 0, which the worker rejects.
template <typename T> T fieldValue(double v) {
    if (!std::isfinite(v) || v < 0 || v > static_cast<double>(std::numeric_limits<T>::max()))
        return 0;
    return static_cast<T>(v);
}

struct ConvertRequest {
    std::string file;
    WaveFormat target;
};

ConvertRequest parseConvertRequest(const std::string& text) {
    picojson::value v;
    parseJson(v, text);
    const auto& o = v.get<picojson::object>();
    ConvertRequest r;
    r.file = stringMember(o, "file");
    const std::string format = stringMember(o, "format");
    const auto channels = fieldValue<uint16_t>(numberMember(o, "channels"));
    const auto rate = fieldValue<uint32_t>(numberMember(o, "samplerate"));
    const double bitdepth = numberMember(o, "bitdepth");
    const double bitrate = numberMember(o, "bitrate");
    WaveFormat& t = r.target;
    t.channels = channels;
    t.sampleRate = rate;
    if (format == "wav") {
        const auto bits = fieldValue<uint16_t>(bitdepth);
        t = bitdepth == 0 ? WaveFormat::uncompressed(kWaveTagFloat, channels, rate, 32)
                          : WaveFormat::uncompressed(kWaveTagPcm, channels, rate, bits);
        if (bitdepth != 0 && bits == 0) t.channels = 0;
    } else if (format == "m4a" || format == "mp3") {
        t.tag = format == "m4a" ? kWaveTagAac : kWaveTagMp3;
        t.bitsPerSample = fieldValue<uint16_t>(bitdepth);
        t.avgBytesPerSec = fieldValue<uint32_t>(std::trunc(bitrate)) / 8;
        t.blockAlign = 0;
    }
    return r;
}

} // namespace

NativeCall_audio::NativeCall_audio(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({{"inputs", Inputs},
                  {"outputs", Outputs},
                  {"format", Format},
                  {"convert", Convert},
                  {"split", Split},
                  {"reverse", Reverse}});
}

void NativeCall_audio::invoke(int32_t id, const Args& args, CallResult& result) {
    NativeObjects& o = *owner();
    auto startWorker = [&](std::unique_ptr<Thread> worker) {
        Thread& t = *worker;
        o.workerThreads.push_back(std::move(worker));
        t.start();
    };
    switch (id) {
    case Inputs:
        result.setString(writeAudioDeviceList(enumerateAudioDevices(AudioDirection::Capture)));
        break;
    case Outputs:
        result.setString(writeAudioDeviceList(enumerateAudioDevices(AudioDirection::Render)));
        break;
    case Format:
        result.setString(audioFormatAnswer(required(args, 0)));
        break;
    case Convert: {
        const std::string& input = required(args, 0);
        ConvertRequest r = parseConvertRequest(required(args, 1));
        startWorker(std::make_unique<AudioConvertThread>(o.js, input, r.file, r.target));
        break;
    }
    case Split:
        startWorker(std::make_unique<AudioSplitThread>(o.js, required(args, 0), required(args, 1),
                                                       o.paths.tempFolder));
        break;
    case Reverse:
        startWorker(std::make_unique<AudioReverseThread>(o.js, required(args, 0), required(args, 1),
                                                         o.paths.tempFolder));
        break;
    default:
        break;
    }
}

} // namespace kx5
