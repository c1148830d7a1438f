// MIDI over a JACK server (the server JACK_DEFAULT_SERVER names, else the
// default one). One JACK client for the whole program; every open device gets
// a port of its own connected to the device's port.
//
// Device list: the MIDI ports of other clients (inputs = ports that produce
// MIDI, outputs = ports that take it), in the server's order; this program's
// own ports are left out.
// Names:
//   product name   = the JACK client name (before the first ':'), cut to 31
//                    characters; for the ALSA bridges "a2j" and
//                    "Midi-Bridge", whose one client carries every device,
//                    the device's name at the start of the port name;
//   interface name = "jack:" + the full port name, without a " [N]" group
//                    (the volatile sequencer client number that ALSA bridges
//                    put into port names). JACK port names are unique and do
//                    not depend on other clients appearing, so the text stays
//                    the same for one port as long as its owner names it the
//                    same way.
// When the server is not running the list is empty (one line on stderr);
// after the server went away the driver connects again on a later query.
#pragma once

#include "midi/midi_driver.h"

#include <chrono>
#include <mutex>

namespace kx5 {

class JackSession;

class JackMidiDriver final : public MidiDriver {
  public:
    explicit JackMidiDriver(std::string clientName);
    ~JackMidiDriver() override;

    int count(MidiDirection direction) override;
    std::optional<std::string> productName(MidiDirection direction, int n) override;
    std::string interfaceName(MidiDirection direction, int n) override;
    std::unique_ptr<MidiInputStream> openInput(int n, MidiReceiver receiver) override;
    std::unique_ptr<MidiOutputStream> openOutput(int n) override;

    // The names for a full JACK port name.
    static std::string productNameOf(const std::string& portName);
    static std::string interfaceNameOf(const std::string& portName);

  private:
    std::shared_ptr<JackSession> session();
    std::optional<std::string> portName(MidiDirection direction, int n);

    std::string clientName_;
    std::mutex mutex_;
    std::shared_ptr<JackSession> session_;
    std::chrono::steady_clock::time_point lastAttempt_{};
    bool reported_ = false;
};

} // namespace kx5
