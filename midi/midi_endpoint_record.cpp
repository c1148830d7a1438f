#include "midi/midi_endpoint_record.h"

#include "bridge/json_parse.h"

#include <picojson.h>

#include <stdexcept>

namespace kx5 {
namespace {

constexpr const char* kDeviceNameKey = "MIDIDeviceNameKey";
constexpr const char* kEntityNameKey = "MIDIEntityNameKey";
constexpr const char* kEndpointUIDKey = "MIDIEndpointUIDKey";
constexpr const char* kEndpointIndexKey = "MIDIEndpointIndexKey";

picojson::value toValue(const MIDIEndpointRecord& r) {
    picojson::object o;
    o[kDeviceNameKey] = picojson::value(r.deviceName);
    o[kEntityNameKey] = picojson::value(r.entityName);
    o[kEndpointUIDKey] = picojson::value(r.endpointUID);
    o[kEndpointIndexKey] = picojson::value(r.endpointIndex);
    return picojson::value(o);
}

const std::string& stringMember(const picojson::object& o, const char* key) {
    const auto it = o.find(key);
    if (it == o.end() || !it->second.is<std::string>())
        throw std::runtime_error(std::string("endpoint record lacks the text ") + key);
    return it->second.get<std::string>();
}

} // namespace

MIDIEndpointRecord MIDIEndpointRecord::fromDevice(const std::string& productName,
                                                  const std::string& interfaceName) {
    if (interfaceName.empty()) return {productName, productName, productName, productName};
    return {productName, productName, productName + interfaceName, interfaceName};
}

std::string midiEndpointToJson(const MIDIEndpointRecord& record) {
    return toValue(record).serialize();
}

std::string midiEndpointsToJson(const std::vector<MIDIEndpointRecord>& records) {
    picojson::array a;
    a.reserve(records.size());
    for (const auto& r : records)
        a.push_back(toValue(r));
    return picojson::value(a).serialize();
}

MIDIEndpointRecord midiEndpointFromJson(const std::string& text) {
    // A parse error is not reported as such: what was read up to it is checked.
    picojson::value v;
    parseJson(v, text);
    if (!v.is<picojson::object>()) throw std::runtime_error("endpoint record is not an object");
    const auto& o = v.get<picojson::object>();
    MIDIEndpointRecord r;
    r.deviceName = stringMember(o, kDeviceNameKey);
    r.entityName = stringMember(o, kEntityNameKey);
    r.endpointUID = stringMember(o, kEndpointUIDKey);
    r.endpointIndex = stringMember(o, kEndpointIndexKey);
    return r;
}

} // namespace kx5
