// The simulated driver: lists the devices of a SimulatedMidiBus. The interface
// name is the one the device was added with.
#pragma once

#include "midi/midi_driver.h"
#include "midi/simulated_midi_bus.h"

namespace kx5 {

class SimulatedMidiDriver final : public MidiDriver {
  public:
    explicit SimulatedMidiDriver(std::shared_ptr<SimulatedMidiBus> bus) : bus_(std::move(bus)) {}

    int count(MidiDirection direction) override;
    std::optional<std::string> productName(MidiDirection direction, int n) override;
    std::string interfaceName(MidiDirection direction, int n) override;
    std::unique_ptr<MidiInputStream> openInput(int n, MidiReceiver receiver) override;
    std::unique_ptr<MidiOutputStream> openOutput(int n) override;

  private:
    std::optional<SimulatedMidiBus::Listing> device(int n) const;

    std::shared_ptr<SimulatedMidiBus> bus_;
};

} // namespace kx5
