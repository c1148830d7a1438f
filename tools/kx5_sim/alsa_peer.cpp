#include "tools/kx5_sim/midi_peer.h"

#include <RtMidi.h>

#include <stdexcept>

namespace kx5::sim {
namespace {

class AlsaPeer final : public MidiPeer {
  public:
    AlsaPeer(const std::string& name, Receiver receiver) : receiver_(std::move(receiver)) {
        try {
            in_ = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, name, 1000);
            out_ = std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, name);
            in_->ignoreTypes(false, true, true);
            in_->setCallback(&AlsaPeer::onMessage, this);
            in_->openVirtualPort(name);
            out_->openVirtualPort(name);
        } catch (const RtMidiError& e) {
            throw std::runtime_error("ALSA MIDI: " + e.getMessage());
        }
    }

    ~AlsaPeer() override {
        in_->cancelCallback();
        in_->closePort();
        out_->closePort();
    }

    void send(const Bytes& message) override {
        try {
            out_->sendMessage(message.data(), message.size());
        } catch (const RtMidiError&) {
            // A send to a closed sequencer port is lost like on a cable.
        }
    }

  private:
    static void onMessage(double delta, std::vector<unsigned char>* message, void* self) {
        auto* peer = static_cast<AlsaPeer*>(self);
        peer->time_ += delta;
        peer->receiver_(Bytes(message->begin(), message->end()), peer->time_);
    }

    Receiver receiver_;
    double time_ = 0;
    std::unique_ptr<RtMidiIn> in_;
    std::unique_ptr<RtMidiOut> out_;
};

} // namespace

std::unique_ptr<MidiPeer> openAlsaPeer(const std::string& name, MidiPeer::Receiver receiver) {
    return std::make_unique<AlsaPeer>(name, std::move(receiver));
}

} // namespace kx5::sim
