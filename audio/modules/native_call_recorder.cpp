#include "audio/modules/native_call_recorder.h"

#include "audio/players/audio_recorder.h"
#include "bridge/call_arguments.h"
#include "bridge/native_objects.h"

namespace kx5 {

NativeCall_recorder::NativeCall_recorder(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({{"device", Device},
                  {"create", Create},
                  {"record", Record},
                  {"pause", Pause},
                  {"stop", Stop},
                  {"volume", Volume},
                  {"file", File},
                  {"status", Status},
                  {"channels", Channels},
                  {"peakpower", PeakPower},
                  {"time", Time},
                  {"input", Input}});
}

void NativeCall_recorder::invoke(int32_t id, const Args& args, CallResult& result) {
    AudioRecorder* r = owner()->audioRecorder.get();
    if (!r) return;
    switch (id) {
    case Device:
        result.setString(r->device(given(args, 0)));
        break;
    case Create:
        result.setBool(r->create(required(args, 0), toInt(required(args, 1))));
        break;
    case Record:
        r->record();
        break;
    case Pause:
        r->pause();
        break;
    case Stop:
        r->stop();
        break;
    case Volume:
        result.setFloat(r->volume(orNull(givenReal(args, 0))));
        break;
    case File:
        result.setString(r->file());
        break;
    case Status:
        result.setInt(r->status());
        break;
    case Channels:
        result.setInt(r->channels());
        break;
    case PeakPower:
        result.setFloat(r->peakPower(toInt(required(args, 0))));
        break;
    case Time:
        result.setFloat(r->time());
        break;
    case Input:
        r->useNetworkInput(parseFlag(optional(args, 0)));
        break;
    default:
        break;
    }
}

} // namespace kx5
