// The simulated KX-5 inside the program: a device on the MIDI layer's
// simulated bus, listed as input and output "KX-5 (simulated)", so that the
// editor works without a pedal. A real unit plugged in appears beside it.
#pragma once

#include "sim/delayed_sender.h"
#include "sim/kx5_unit.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace kx5 {
class SimulatedMidiBus;
class SimulatedMidiDevice;
} // namespace kx5

namespace kx5::sim {

struct InProcessUnitOptions {
    UnitOptions unit;
    int replyDelayMs = 0;
    std::string dumpFile; // written when the unit is destroyed
};

class InProcessUnit {
  public:
    static constexpr const char* kProductName = "KX-5 (simulated)";
    static constexpr const char* kInterfaceName = "sim:kx5-1";

    InProcessUnit(std::shared_ptr<SimulatedMidiBus> bus, InProcessUnitOptions options);
    // Removes the device (the host sees the device list change), then writes
    // the dump when one was asked for.
    ~InProcessUnit();
    InProcessUnit(const InProcessUnit&) = delete;
    InProcessUnit& operator=(const InProcessUnit&) = delete;

    Kx5Unit& unit() { return *unit_; }

  private:
    void toHost(const Bytes& message);

    InProcessUnitOptions options_;
    std::atomic<SimulatedMidiDevice*> device_{nullptr};
    std::unique_ptr<DelayedSender> late_;
    std::unique_ptr<Kx5Unit> unit_;
    std::unique_ptr<SimulatedMidiDevice> handle_;
};

// Reads the program's command-line options: nothing when
// "--no-simulated-unit" is given; "--simulated-unit-dump FILE" and
// "--simulated-unit-reply-delay MS" configure it.
std::unique_ptr<InProcessUnit> startInProcessUnit(const std::vector<std::string>& arguments);

} // namespace kx5::sim
