// MIDI over the ALSA sequencer (shared: other programs keep using the same
// devices). One sequencer client for the whole program; every open device
// gets a port of its own subscribed to the device's port.
//
// Device list: the MIDI ports of other clients that can be subscribed to
// (inputs: readable, outputs: writable), in client and port order.
// Names:
//   product name   = the sequencer client name, cut to 31 characters;
//   interface name = a text that names the port by where it is, never by
//                    the sequencer's client number (which changes when
//                    devices come and go):
//                    - a port of a sound card: "alsa:" + the card's USB path
//                      ("usb-0000:00:14.0-2", the physical USB port it is
//                      plugged into) or, for cards not on USB, "card=" + the
//                      card id; then "#" + the port number inside the card's
//                      client (fixed by the card's driver). Two identical
//                      devices on different USB ports differ; one device
//                      plugged back into the same USB port keeps its name.
//                    - a port of a program: "alsa:" + client name + "/" +
//                      port name.
// When the sequencer cannot be opened (no /dev/snd/seq) the list is empty and
// one line goes to stderr.
#pragma once

#include "midi/midi_driver.h"

#include <map>
#include <mutex>
#include <thread>
#include <vector>

typedef struct _snd_seq snd_seq_t;
typedef struct snd_midi_event snd_midi_event_t;

namespace kx5 {

class AlsaMidiDriver final : public MidiDriver {
  public:
    explicit AlsaMidiDriver(const std::string& clientName);
    ~AlsaMidiDriver() override;
    AlsaMidiDriver(const AlsaMidiDriver&) = delete;
    AlsaMidiDriver& operator=(const AlsaMidiDriver&) = delete;

    bool available() const { return seq_ != nullptr; }

    int count(MidiDirection direction) override;
    std::optional<std::string> productName(MidiDirection direction, int n) override;
    std::string interfaceName(MidiDirection direction, int n) override;
    std::unique_ptr<MidiInputStream> openInput(int n, MidiReceiver receiver) override;
    std::unique_ptr<MidiOutputStream> openOutput(int n) override;

    // The interface name for a card's long name (as the control interface
    // reports it), its id and a port number.
    static std::string cardInterfaceName(const std::string& longName, const std::string& id,
                                         int port);

    // Used by the open streams.
    int32_t sendEvent(int ownPort, int destClient, int destPort, const uint8_t* bytes, size_t size,
                      snd_midi_event_t* encoder);
    void closePort(int ownPort, MidiDirection direction);

  private:
    struct PortAddress {
        int client;
        int port;
        std::string clientName;
        std::string portName;
        int card; // -1 for a program's client
    };
    struct InputState {
        MidiReceiver receiver;
        std::vector<uint8_t> exclusive; // an exclusive message arriving in pieces
    };
    struct Received {
        int ownPort;
        bool exclusive;
        std::vector<uint8_t> bytes;
    };

    std::vector<PortAddress> list(MidiDirection direction);
    std::optional<PortAddress> address(MidiDirection direction, int n);
    int createOwnPort(MidiDirection direction);
    void inputLoop();
    void dispatch(std::vector<Received>& events);

    snd_seq_t* seq_ = nullptr;
    int ownClient_ = -1;
    std::mutex seqMutex_; // every use of seq_ after construction
    snd_midi_event_t* decoder_ = nullptr;
    int nextPortNumber_ = 1;

    std::mutex inputsMutex_; // held while receivers run
    std::map<int, InputState> inputs_;
    int wakeFd_ = -1;
    std::thread inputThread_;
};

} // namespace kx5
