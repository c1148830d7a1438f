// The record that names a MIDI device to the page, and its JSON form.
//
// A record is built from what the driver reports for device n:
//   deviceName    = the product name (at most 31 characters)
//   entityName    = the product name
//   endpointUID   = product name + interface name (no separator), or the
//                   product name alone when there is no interface name
//   endpointIndex = the interface name, or the product name when there is none
// A device is found again only through deviceName and endpointUID.
#pragma once

#include <string>
#include <vector>

namespace kx5 {

struct MIDIEndpointRecord {
    std::string deviceName;
    std::string entityName;
    std::string endpointUID;
    std::string endpointIndex;

    static MIDIEndpointRecord fromDevice(const std::string& productName,
                                         const std::string& interfaceName);
    bool operator==(const MIDIEndpointRecord&) const = default;
};

// {"MIDIDeviceNameKey":..,"MIDIEndpointIndexKey":..,"MIDIEndpointUIDKey":..,
//  "MIDIEntityNameKey":..} (keys sorted, compact).
std::string midiEndpointToJson(const MIDIEndpointRecord& record);
std::string midiEndpointsToJson(const std::vector<MIDIEndpointRecord>& records);

// Reads a record the page passed back. Throws std::runtime_error unless the
// text yields an object whose four members are all strings; other members are
// ignored.
MIDIEndpointRecord midiEndpointFromJson(const std::string& text);

} // namespace kx5
