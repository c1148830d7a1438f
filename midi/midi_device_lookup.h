// Enumeration and the record-to-device rule shared by both ports.
#pragma once

#include "midi/midi_driver.h"
#include "midi/midi_endpoint_record.h"

#include <optional>
#include <vector>

namespace kx5 {

// One record per device in device-number order, stopping at the first device
// whose product name cannot be read.
std::vector<MIDIEndpointRecord> enumerateEndpoints(MidiDriver& driver, MidiDirection direction);

// The first device n (in number order) for which the record's device name
// followed by n's interface name equals the record's endpoint UID exactly.
std::optional<int> findDevice(MidiDriver& driver, MidiDirection direction,
                              const MIDIEndpointRecord& record);

} // namespace kx5
