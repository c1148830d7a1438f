// Choosing and building the MIDI drivers of the program, and the shared
// client of the "midi" module.
#pragma once

#include "midi/midi_driver.h"

#include <memory>
#include <string>
#include <vector>

namespace kx5 {

class MIDIClient;
class NativeObjects;

enum class MidiApi { Alsa, Jack };

// "--midi-api=alsa|jack" among the arguments wins over the environment value
// (KX5_MIDI_API, may be null); the default is the ALSA sequencer. An unknown
// name is reported on stderr and the default is used.
MidiApi midiApiFrom(const std::vector<std::string>& arguments, const char* environmentValue);

// The system's driver for the API; clientName is how this program appears in
// the MIDI system.
std::shared_ptr<MidiDriver> makeSystemMidiDriver(MidiApi api, const std::string& clientName);

// The system's devices followed by the in-process simulated devices
// (SimulatedMidiBus::shared()).
std::shared_ptr<MidiDriver> makeProgramMidiDriver(MidiApi api, const std::string& clientName);

// The shared client of the "midi" module with its event delegate, which is
// kept in objects.delegates (it outlives the client).
std::shared_ptr<MIDIClient> createSharedMidiClient(NativeObjects& objects,
                                                   std::shared_ptr<MidiDriver> driver);

} // namespace kx5
