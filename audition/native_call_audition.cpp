#include "audition/native_call_audition.h"

#include "audition/audition_player.h"
#include "audition/audition_sources.h"
#include "bridge/app_paths.h"
#include "bridge/call_arguments.h"
#include "bridge/encoding.h"
#include "bridge/javascript_interface.h"
#include "bridge/native_objects.h"
#include "bridge/ui_queue.h"

#include <picojson.h>
#include <sys/stat.h>

#include <cmath>

namespace kx5 {
namespace {

using picojson::object;
using picojson::value;

std::string refusal(const std::string& reason) {
    object o;
    o["result"] = value(0.0);
    o["reason"] = value(reason);
    return value(o).serialize();
}

// "a" or "b" (any case) -> 0 or 1; anything else fails the call.
int takeOf(const std::string& text) {
    if (text == "a" || text == "A") return 0;
    if (text == "b" || text == "B") return 1;
    throw NativeException(EINVAL);
}

// 0, 1 or "mix" (2).
int channelOf(const object& o) {
    const auto it = o.find("ch");
    if (it == o.end()) return 0;
    if (it->second.is<std::string>()) return it->second.get<std::string>() == "mix" ? 2 : 0;
    if (it->second.is<double>()) return it->second.get<double>() == 1.0 ? 1 : 0;
    return 0;
}

// The file as it is now: a changed file renders again.
std::string fileStamp(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return path;
    return path + '\f' + std::to_string(st.st_size) + '\f' + std::to_string(st.st_mtim.tv_sec) +
           '.' + std::to_string(st.st_mtim.tv_nsec);
}

} // namespace

NativeCall_audition::NativeCall_audition(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({{"phrase", Phrase},
                  {"load", Load},
                  {"play", Play},
                  {"stop", Stop},
                  {"gain", Gain},
                  {"loop", Loop},
                  {"status", Status},
                  {"device", Device}});
    JavaScriptInterface& js = owner->js;
    UiQueue& ui = owner->ui();
    // The end is heard on the stream's thread: the event goes out from
    // there, the idle stream is let go of on the UI thread.
    auto self = std::make_shared<std::weak_ptr<AuditionPlayer>>();
    const auto letGo = [&ui, self] {
        ui.post([weak = *self] {
            if (auto p = weak.lock()) p->closeIfIdle();
        });
    };
    player_ = std::make_shared<AuditionPlayer>(
        [&js, letGo] {
            js.postEvent(eventText({"audition", "ended"}));
            letGo();
        },
        [&js, letGo] {
            js.postEvent(eventText({"audition", "error", "the audio output went away"}));
            letGo();
        });
    *self = player_;
}

NativeCall_audition::~NativeCall_audition() = default;

std::string NativeCall_audition::setPhrase(const std::string& path) {
    auto read = readDiPhrase(path);
    if (const auto* refused = std::get_if<SourceRefusal>(&read)) return refusal(refused->reason);
    phrase_ = std::make_shared<MonoSound>(std::move(std::get<MonoSound>(read)));
    phrasePath_ = fileStamp(path);
    for (auto& k : takeKeys_)
        k.clear();
    player_->stop();
    for (int t = 0; t < AuditionPlayer::kTakes; ++t)
        player_->setTake(t, nullptr, phrase_->rate);
    object o;
    o["result"] = value(1.0);
    o["path"] = value(path);
    o["rate"] = value(double(phrase_->rate));
    o["frames"] = value(double(phrase_->samples.size()));
    return value(o).serialize();
}

std::string NativeCall_audition::load(int which, const std::string& json) {
    value v;
    if (!picojson::parse(v, json).empty() || !v.is<object>()) throw NativeException(EINVAL);
    const object& o = v.get<object>();
    const auto path = o.find("path");
    if (path == o.end() || !path->second.is<std::string>()) throw NativeException(EINVAL);
    if (!phrase_) return refusal("no DI phrase chosen");
    const int channel = channelOf(o);
    const std::string key = fileStamp(path->second.get<std::string>()) + '\f' +
                            std::to_string(channel) + '\f' + phrasePath_;
    if (key == takeKeys_[which] && player_->hasTake(which)) return takeAnswers_[which];
    auto ir = readAuditionIr(path->second.get<std::string>(), channel, owner()->paths.tempFolder);
    if (const auto* refused = std::get_if<SourceRefusal>(&ir)) return refusal(refused->reason);
    Rendering r = renderThrough(*phrase_, std::get<MonoSound>(ir));
    if (r.samples.empty()) return refusal("the impulse response could not be rendered");
    object a;
    a["result"] = value(1.0);
    a["rms"] = value(std::round(r.rmsDb * 100) / 100);
    a["peak"] = value(std::round(r.peakDb * 100) / 100);
    a["rate"] = value(double(r.rate));
    a["frames"] = value(double(r.samples.size()));
    player_->setTake(which, std::make_shared<const std::vector<float>>(std::move(r.samples)),
                     r.rate);
    takeKeys_[which] = key;
    takeAnswers_[which] = value(a).serialize();
    return takeAnswers_[which];
}

void NativeCall_audition::invoke(int32_t id, const Args& args, CallResult& result) {
    switch (id) {
    case Phrase:
        result.setString(setPhrase(required(args, 0)));
        break;
    case Load:
        result.setString(load(takeOf(required(args, 0)), required(args, 1)));
        break;
    case Play:
        result.setBool(player_->play(takeOf(required(args, 0))));
        break;
    case Stop:
        player_->stop();
        break;
    case Gain: {
        const int which = takeOf(required(args, 0));
        if (const auto db = givenReal(args, 1);
            db && std::isfinite(*db) && *db <= 24 && *db >= -96) {
            gainsDb_[which] = *db;
            player_->setGain(which, std::pow(10.0, *db / 20.0));
        }
        result.setFloat(float(gainsDb_[which]));
        break;
    }
    case Loop:
        if (const std::string* flag = given(args, 0)) {
            loop_ = parseFlag(*flag);
            player_->setLoop(loop_);
        }
        result.setBool(loop_);
        break;
    case Status: {
        const AuditionPlayer::Status s = player_->status();
        object o;
        o["playing"] = value(s.playing);
        o["which"] = value(std::string(s.which == 1 ? "b" : "a"));
        o["position"] = value(std::round(s.position * 1000) / 1000);
        o["length"] = value(std::round(s.length * 1000) / 1000);
        o["underruns"] = value(double(s.underruns));
        result.setString(value(o).serialize());
        break;
    }
    case Device:
        player_->setDevice(optional(args, 0));
        break;
    default:
        break;
    }
}

} // namespace kx5
