#include "audio/modules/native_call_recorder.h"

#include "audio/players/audio_recorder.h"
#include "audio/modules/module_args.h"
#include "bridge/native_objects.h"

namespace kx5 {
namespace {
enum Function {
    kDevice,
    kCreate,
    kRecord,
    kPause,
    kStop,
    kVolume,
    kFile,
    kStatus,
    kChannels,
    kPeakPower,
    kTime,
    kInput
};
} // namespace

NativeCall_recorder::NativeCall_recorder(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({"device", "create", "record", "pause", "stop", "volume", "file", "status",
                  "channels", "peakpower", "time", "input"});
}

void NativeCall_recorder::invoke(int32_t id, const Args& args, CallResult& result) {
    using namespace audio_args;
    AudioRecorder* r = owner()->audioRecorder.get();
    if (!r) return;
    switch (id) {
    case kDevice:
        result.setString(r->device(optional(args, 0)));
        break;
    case kCreate:
        result.setBool(r->create(required(args, 0), toInt(required(args, 1))));
        break;
    case kRecord:
        r->record();
        break;
    case kPause:
        r->pause();
        break;
    case kStop:
        r->stop();
        break;
    case kVolume:
        result.setFloat(r->volume(ptr(optionalReal(args, 0))));
        break;
    case kFile:
        result.setString(r->file());
        break;
    case kStatus:
        result.setInt(r->status());
        break;
    case kChannels:
        result.setInt(r->channels());
        break;
    case kPeakPower:
        result.setFloat(r->peakPower(toInt(required(args, 0))));
        break;
    case kTime:
        result.setFloat(r->time());
        break;
    case kInput:
        r->useNetworkInput(parseFlag(args.empty() ? "" : args[0]));
        break;
    default:
        break;
    }
}

} // namespace kx5
