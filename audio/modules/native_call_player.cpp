#include "audio/modules/native_call_player.h"

#include "audio/players/audio_player.h"
#include "bridge/call_arguments.h"
#include "bridge/native_objects.h"

namespace kx5 {

NativeCall_player::NativeCall_player(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({{"device", Device},
                  {"open", Open},
                  {"play", Play},
                  {"pause", Pause},
                  {"stop", Stop},
                  {"locate", Locate},
                  {"volume", Volume},
                  {"file", File},
                  {"status", Status},
                  {"channels", Channels},
                  {"peakpower", PeakPower},
                  {"time", Time},
                  {"totaltime", TotalTime},
                  {"output", Output}});
}

void NativeCall_player::invoke(int32_t id, const Args& args, CallResult& result) {
    AudioPlayer* p = owner()->audioPlayer.get();
    if (!p) return;
    switch (id) {
    case Device:
        result.setString(p->device(given(args, 0)));
        break;
    case Open:
        result.setBool(p->open(required(args, 0)));
        break;
    case Play:
        p->play();
        break;
    case Pause:
        p->pause();
        break;
    case Stop:
        p->stop();
        break;
    case Locate:
        p->locate(static_cast<float>(toReal(required(args, 0))));
        break;
    case Volume:
        result.setFloat(p->volume(orNull(givenReal(args, 0))));
        break;
    case File:
        result.setString(p->file());
        break;
    case Status:
        result.setInt(p->status());
        break;
    case Channels:
        result.setInt(p->channels());
        break;
    case PeakPower:
        result.setFloat(p->peakPower(toInt(required(args, 0))));
        break;
    case Time:
        result.setFloat(p->time());
        break;
    case TotalTime:
        result.setFloat(p->totalTime());
        break;
    case Output:
        p->useNetworkOutput(parseFlag(optional(args, 0)));
        break;
    default:
        break;
    }
}

} // namespace kx5
