#include "audio/modules/native_call_player.h"

#include "audio/players/audio_player.h"
#include "audio/modules/module_args.h"
#include "bridge/native_objects.h"

namespace kx5 {
namespace {
enum Function {
    kDevice,
    kOpen,
    kPlay,
    kPause,
    kStop,
    kLocate,
    kVolume,
    kFile,
    kStatus,
    kChannels,
    kPeakPower,
    kTime,
    kTotalTime,
    kOutput
};
} // namespace

NativeCall_player::NativeCall_player(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({"device", "open", "play", "pause", "stop", "locate", "volume", "file", "status",
                  "channels", "peakpower", "time", "totaltime", "output"});
}

void NativeCall_player::invoke(int32_t id, const Args& args, CallResult& result) {
    using namespace audio_args;
    AudioPlayer* p = owner()->audioPlayer.get();
    if (!p) return;
    switch (id) {
    case kDevice:
        result.setString(p->device(optional(args, 0)));
        break;
    case kOpen:
        result.setBool(p->open(required(args, 0)));
        break;
    case kPlay:
        p->play();
        break;
    case kPause:
        p->pause();
        break;
    case kStop:
        p->stop();
        break;
    case kLocate:
        p->locate(static_cast<float>(toReal(required(args, 0))));
        break;
    case kVolume:
        result.setFloat(p->volume(ptr(optionalReal(args, 0))));
        break;
    case kFile:
        result.setString(p->file());
        break;
    case kStatus:
        result.setInt(p->status());
        break;
    case kChannels:
        result.setInt(p->channels());
        break;
    case kPeakPower:
        result.setFloat(p->peakPower(toInt(required(args, 0))));
        break;
    case kTime:
        result.setFloat(p->time());
        break;
    case kTotalTime:
        result.setFloat(p->totalTime());
        break;
    case kOutput:
        p->useNetworkOutput(parseFlag(args.empty() ? "" : args[0]));
        break;
    default:
        break;
    }
}

} // namespace kx5
