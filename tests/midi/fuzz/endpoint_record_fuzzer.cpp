// libFuzzer target for the endpoint-record reader: any text gives a record
// or the reader's one error, and a record read back from its own JSON is the
// same record.
#include "midi/midi_endpoint_record.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    kx5::MIDIEndpointRecord record;
    try {
        record = kx5::midiEndpointFromJson(text);
    } catch (const std::runtime_error&) {
        return 0;
    }
    if (kx5::midiEndpointFromJson(kx5::midiEndpointToJson(record)) != record) std::abort();
    const std::string list = kx5::midiEndpointsToJson({record, record});
    if (list != "[" + kx5::midiEndpointToJson(record) + "," + kx5::midiEndpointToJson(record) + "]")
        std::abort();
    return 0;
}
