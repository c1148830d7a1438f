#include "audio/modules/native_call_sampler.h"

#include "audio/modules/audio_event_delegates.h"
#include "audio/players/sampler_player.h"
#include "bridge/call_arguments.h"
#include "bridge/native_objects.h"

#include <picojson.h>

#include <stdexcept>

namespace kx5 {

NativeCall_sampler::NativeCall_sampler(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({{"create", Create},       {"device", Device},   {"open", Open},
                  {"close", Close},         {"start", Start},     {"play", Play},
                  {"pause", Pause},         {"stop", Stop},       {"locate", Locate},
                  {"begin", Begin},         {"end", End},         {"volume", Volume},
                  {"repeat", Repeat},       {"speed", Speed},     {"pitch", Pitch},
                  {"fadein", FadeIn},       {"fadeout", FadeOut}, {"file", File},
                  {"totaltime", TotalTime}, {"status", Status}});
}

SamplerPlayer& NativeCall_sampler::voice(const Args& args) {
    const int32_t id = toInt(required(args, 0));
    auto& voices = owner()->samplerPlayers;
    if (id < 0 || static_cast<size_t>(id) >= voices.size())
        throw std::out_of_range("no such voice");
    return *voices[static_cast<size_t>(id)];
}

// Before any voice exists every call answers its neutral value.
void NativeCall_sampler::answerDefault(int32_t id, CallResult& result) {
    switch (id) {
    case Device:
    case File:
    case Status:
        result.setString("");
        break;
    case Open:
        result.setBool(false);
        break;
    case Volume:
    case Speed:
        result.setFloat(1.0f);
        break;
    case Repeat:
        result.setInt(0);
        break;
    case Begin:
    case End:
    case Pitch:
    case FadeIn:
    case FadeOut:
    case TotalTime:
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
    NativeObjects& o = *owner();
    if (id == Create) {
        const int32_t count = toInt(required(args, 0));
        if (o.samplerPlayers.empty())
            for (int32_t i = 0; i < count; ++i)
                o.samplerPlayers.push_back(std::make_shared<SamplerPlayer>(
                    i, std::make_shared<BridgeSamplePlayerDelegate>(o.js)));
        return;
    }
    if (o.samplerPlayers.empty()) return answerDefault(id, result);
    switch (id) {
    case Device:
        result.setString(voice(args).device(given(args, 1)));
        break;
    case Open: {
        SamplerPlayer& v = voice(args);
        result.setBool(v.open(required(args, 1)));
        break;
    }
    case Close:
        voice(args).close();
        break;
    case Start:
        break;
    case Play:
        voice(args).play();
        break;
    case Pause:
        voice(args).pause();
        break;
    case Stop:
        // Without an id every voice stops.
        if (!given(args, 0)) {
            for (auto& v : o.samplerPlayers)
                v->stop(true);
        } else {
            SamplerPlayer& v = voice(args);
            v.stop(parseFlag(optional(args, 1)));
        }
        break;
    case Locate: {
        SamplerPlayer& v = voice(args);
        v.locate(static_cast<float>(toReal(required(args, 1))));
        break;
    }
    case Begin: {
        SamplerPlayer& v = voice(args);
        result.setFloat(v.begin(orNull(givenReal(args, 1))));
        break;
    }
    case End: {
        SamplerPlayer& v = voice(args);
        result.setFloat(v.end(orNull(givenReal(args, 1))));
        break;
    }
    case Volume: {
        SamplerPlayer& v = voice(args);
        result.setFloat(v.volume(orNull(givenReal(args, 1))));
        break;
    }
    case Repeat: {
        SamplerPlayer& v = voice(args);
        result.setInt(v.repeat(orNull(givenInt(args, 1))));
        break;
    }
    case Speed: {
        SamplerPlayer& v = voice(args);
        result.setFloat(v.speed(orNull(givenReal(args, 1))));
        break;
    }
    case Pitch: {
        SamplerPlayer& v = voice(args);
        result.setFloat(v.pitch(orNull(givenReal(args, 1))));
        break;
    }
    case FadeIn: {
        SamplerPlayer& v = voice(args);
        result.setFloat(v.fadeIn(orNull(givenReal(args, 1))));
        break;
    }
    case FadeOut: {
        SamplerPlayer& v = voice(args);
        result.setFloat(v.fadeOut(orNull(givenReal(args, 1))));
        break;
    }
    case File:
        result.setString(voice(args).file());
        break;
    case TotalTime:
        result.setFloat(voice(args).totalTime());
        break;
    case Status:
        result.setString(status());
        break;
    default:
        break;
    }
}

} // namespace kx5
