#include "audio/modules/native_call_sampler.h"

#include "audio/modules/audio_event_delegates.h"
#include "audio/modules/module_args.h"
#include "audio/players/sampler_player.h"
#include "bridge/native_objects.h"

#include <picojson.h>

#include <stdexcept>

namespace kx5 {
namespace {
enum Function {
    kCreate,
    kDevice,
    kOpen,
    kClose,
    kStart,
    kPlay,
    kPause,
    kStop,
    kLocate,
    kBegin,
    kEnd,
    kVolume,
    kRepeat,
    kSpeed,
    kPitch,
    kFadeIn,
    kFadeOut,
    kFile,
    kTotalTime,
    kStatus
};
} // namespace

NativeCall_sampler::NativeCall_sampler(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({"create", "device", "open",    "close", "start",     "play",   "pause",
                  "stop",   "locate", "begin",   "end",   "volume",    "repeat", "speed",
                  "pitch",  "fadein", "fadeout", "file",  "totaltime", "status"});
}

SamplerPlayer& NativeCall_sampler::voice(const Args& args) {
    const int32_t id = toInt(audio_args::required(args, 0));
    auto& voices = owner()->samplerPlayers;
    if (id < 0 || static_cast<size_t>(id) >= voices.size())
        throw std::out_of_range("no such voice");
    return *voices[static_cast<size_t>(id)];
}

// Before any voice exists every call answers its neutral value.
void NativeCall_sampler::answerDefault(int32_t id, CallResult& result) {
    switch (id) {
    case kDevice:
    case kFile:
    case kStatus:
        result.setString("");
        break;
    case kOpen:
        result.setBool(false);
        break;
    case kVolume:
    case kSpeed:
        result.setFloat(1.0f);
        break;
    case kRepeat:
        result.setInt(0);
        break;
    case kBegin:
    case kEnd:
    case kPitch:
    case kFadeIn:
    case kFadeOut:
    case kTotalTime:
        result.setFloat(0.0f);
        break;
    default:
        break;
    }
}

std::string NativeCall_sampler::status() {
    picojson::array list;
    for (const auto& v : owner()->samplerPlayers) {
        picojson::object o;
        o["time"] = picojson::value(static_cast<double>(v->time()));
        o["state"] = picojson::value(static_cast<double>(v->state()));
        picojson::array peak{picojson::value(static_cast<double>(v->peakPower(0))),
                             picojson::value(static_cast<double>(v->peakPower(1)))};
        o["peakpower"] = picojson::value(peak);
        list.emplace_back(o);
    }
    return picojson::value(list).serialize();
}

void NativeCall_sampler::invoke(int32_t id, const Args& args, CallResult& result) {
    using namespace audio_args;
    NativeObjects& o = *owner();
    if (id == kCreate) {
        const int32_t count = toInt(required(args, 0));
        if (o.samplerPlayers.empty())
            for (int32_t i = 0; i < count; ++i)
                o.samplerPlayers.push_back(std::make_shared<SamplerPlayer>(
                    i, std::make_shared<BridgeSamplePlayerDelegate>(o.js)));
        return;
    }
    if (o.samplerPlayers.empty()) return answerDefault(id, result);
    switch (id) {
    case kDevice:
        result.setString(voice(args).device(optional(args, 1)));
        break;
    case kOpen: {
        SamplerPlayer& v = voice(args);
        result.setBool(v.open(required(args, 1)));
        break;
    }
    case kClose:
        voice(args).close();
        break;
    case kStart:
        break;
    case kPlay:
        voice(args).play();
        break;
    case kPause:
        voice(args).pause();
        break;
    case kStop:
        if (args.empty()) {
            for (auto& v : o.samplerPlayers)
                v->stop(true);
        } else {
            SamplerPlayer& v = voice(args);
            v.stop(args.size() > 1 && parseFlag(args[1]));
        }
        break;
    case kLocate: {
        SamplerPlayer& v = voice(args);
        v.locate(static_cast<float>(toReal(required(args, 1))));
        break;
    }
    case kBegin: {
        SamplerPlayer& v = voice(args);
        result.setFloat(v.begin(ptr(optionalReal(args, 1))));
        break;
    }
    case kEnd: {
        SamplerPlayer& v = voice(args);
        result.setFloat(v.end(ptr(optionalReal(args, 1))));
        break;
    }
    case kVolume: {
        SamplerPlayer& v = voice(args);
        result.setFloat(v.volume(ptr(optionalReal(args, 1))));
        break;
    }
    case kRepeat: {
        SamplerPlayer& v = voice(args);
        result.setInt(v.repeat(ptr(optionalInt(args, 1))));
        break;
    }
    case kSpeed: {
        SamplerPlayer& v = voice(args);
        result.setFloat(v.speed(ptr(optionalReal(args, 1))));
        break;
    }
    case kPitch: {
        SamplerPlayer& v = voice(args);
        result.setFloat(v.pitch(ptr(optionalReal(args, 1))));
        break;
    }
    case kFadeIn: {
        SamplerPlayer& v = voice(args);
        result.setFloat(v.fadeIn(ptr(optionalReal(args, 1))));
        break;
    }
    case kFadeOut: {
        SamplerPlayer& v = voice(args);
        result.setFloat(v.fadeOut(ptr(optionalReal(args, 1))));
        break;
    }
    case kFile:
        result.setString(voice(args).file());
        break;
    case kTotalTime:
        result.setFloat(voice(args).totalTime());
        break;
    case kStatus:
        result.setString(status());
        break;
    default:
        break;
    }
}

} // namespace kx5
