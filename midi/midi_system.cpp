#include "midi/midi_system.h"

#include "bridge/native_objects.h"
#include "midi/driver_alsa.h"
#include "midi/driver_combined.h"
#include "midi/driver_jack.h"
#include "midi/driver_simulated.h"
#include "midi/midi_client.h"
#include "midi/midi_event_delegate.h"

#include <cstdio>
#include <optional>

namespace kx5 {
namespace {

std::optional<MidiApi> apiNamed(const std::string& name) {
    if (name == "alsa") return MidiApi::Alsa;
    if (name == "jack") return MidiApi::Jack;
    std::fprintf(stderr, "MIDI: unknown MIDI API \"%s\" (alsa or jack); using alsa\n",
                 name.c_str());
    return std::nullopt;
}

} // namespace

MidiApi midiApiFrom(const std::vector<std::string>& arguments, const char* environmentValue) {
    static const std::string option = "--midi-api=";
    const std::string* chosen = nullptr;
    for (const auto& a : arguments)
        if (a.rfind(option, 0) == 0) chosen = &a;
    if (chosen) return apiNamed(chosen->substr(option.size())).value_or(MidiApi::Alsa);
    if (environmentValue && *environmentValue)
        return apiNamed(environmentValue).value_or(MidiApi::Alsa);
    return MidiApi::Alsa;
}

std::shared_ptr<MidiDriver> makeSystemMidiDriver(MidiApi api, const std::string& clientName) {
    if (api == MidiApi::Jack) return std::make_shared<JackMidiDriver>(clientName);
    return std::make_shared<AlsaMidiDriver>(clientName);
}

std::shared_ptr<MidiDriver> makeProgramMidiDriver(MidiApi api, const std::string& clientName) {
    return std::make_shared<CombinedMidiDriver>(std::vector<std::shared_ptr<MidiDriver>>{
        makeSystemMidiDriver(api, clientName),
        std::make_shared<SimulatedMidiDriver>(SimulatedMidiBus::shared())});
}

std::shared_ptr<MIDIClient> createSharedMidiClient(NativeObjects& objects,
                                                   std::shared_ptr<MidiDriver> driver) {
    auto delegate = std::make_shared<MIDIEventDelegate>(objects.js);
    auto client = std::make_shared<MIDIClient>(std::move(driver));
    client->setDelegate(delegate.get());
    client->inputPort().setInputDelegate(delegate.get());
    objects.delegates.push_back(delegate);
    return client;
}

} // namespace kx5
