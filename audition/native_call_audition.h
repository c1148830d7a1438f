// "audition": hearing an impulse response before it goes into the unit. A
// DI guitar phrase (the bundle's, or the user's own recording) is rendered
// through up to two IRs (A and B) in the host and played on the computer's
// audio output; the page matches their levels with the gains it sets from
// the levels "load" reports. See the README for the calls and events.
#pragma once

#include "bridge/native_call.h"

#include <map>
#include <memory>
#include <string>

namespace kx5 {

class AuditionPlayer;
struct MonoSound;

class NativeCall_audition final : public NativeCall {
  public:
    enum Function : int32_t {
        Phrase,
        Load,
        Play,
        Stop,
        Gain,
        Loop,
        Status,
        Device,
    };

    explicit NativeCall_audition(NativeObjects* owner);
    ~NativeCall_audition() override;
    std::string name() const override { return "audition"; }

  protected:
    void invoke(int32_t id, const Args& args, CallResult& result) override;

  private:
    std::string setPhrase(const std::string& path);
    std::string load(int which, const std::string& json);

    std::shared_ptr<AuditionPlayer> player_;
    std::string phrasePath_;
    std::shared_ptr<MonoSound> phrase_;
    // What each take holds (IR path, channel and phrase), to skip a render
    // that would give the same.
    std::string takeKeys_[2];
    std::string takeAnswers_[2];
    double gainsDb_[2] = {0.0, 0.0};
    bool loop_ = false;
};

} // namespace kx5
