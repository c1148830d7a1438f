// Several drivers listed one after the other: the devices of the first, then
// those of the second, and so on.
#pragma once

#include "midi/midi_driver.h"

#include <vector>

namespace kx5 {

class CombinedMidiDriver final : public MidiDriver {
  public:
    explicit CombinedMidiDriver(std::vector<std::shared_ptr<MidiDriver>> drivers)
        : drivers_(std::move(drivers)) {}

    int count(MidiDirection direction) override;
    std::optional<std::string> productName(MidiDirection direction, int n) override;
    std::string interfaceName(MidiDirection direction, int n) override;
    std::unique_ptr<MidiInputStream> openInput(int n, MidiReceiver receiver) override;
    std::unique_ptr<MidiOutputStream> openOutput(int n) override;

  private:
    // The driver that holds device n and the number within it.
    std::pair<MidiDriver*, int> locate(MidiDirection direction, int n);

    std::vector<std::shared_ptr<MidiDriver>> drivers_;
};

} // namespace kx5
