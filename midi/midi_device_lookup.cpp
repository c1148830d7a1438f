#include "midi/midi_device_lookup.h"

namespace kx5 {

std::vector<MIDIEndpointRecord> enumerateEndpoints(MidiDriver& driver, MidiDirection direction) {
    std::vector<MIDIEndpointRecord> list;
    const int count = driver.count(direction);
    for (int n = 0; n < count; ++n) {
        const auto product = driver.productName(direction, n);
        if (!product) break;
        list.push_back(
            MIDIEndpointRecord::fromDevice(*product, driver.interfaceName(direction, n)));
    }
    return list;
}

std::optional<int> findDevice(MidiDriver& driver, MidiDirection direction,
                              const MIDIEndpointRecord& record) {
    const int count = driver.count(direction);
    for (int n = 0; n < count; ++n) {
        if (record.deviceName + driver.interfaceName(direction, n) == record.endpointUID) return n;
    }
    return std::nullopt;
}

} // namespace kx5
