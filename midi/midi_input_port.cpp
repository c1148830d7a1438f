#include "midi/midi_input_port.h"

#include "midi/midi_client.h"
#include "midi/midi_device_lookup.h"
#include "midi/midi_status.h"
#include "midi/tick_count.h"

#include <algorithm>

namespace kx5 {
namespace {

// Length of an incoming short message by its status; 0 drops it (clock
// and active sensing never reach the page).
size_t incomingLength(uint8_t status) {
    return status == 0xF8 || status == 0xFE ? 0 : midiMessageLength(status);
}

} // namespace

bool MIDIInputDevice::open(MidiDriver& driver, int deviceNumber) {
    close();
    stream_ = driver.openInput(
        deviceNumber, [this](const uint8_t* bytes, size_t size) { received(bytes, size); });
    return stream_ != nullptr;
}

void MIDIInputDevice::close() {
    stream_.reset();
}

void MIDIInputDevice::received(const uint8_t* bytes, size_t size) {
    const uint32_t now = midiTickCount();
    if (size == 0) return;
    MIDIInputDelegate* delegate = port_.inputDelegate();
    if (!delegate) return;
    if (bytes[0] == 0xF0) {
        for (size_t offset = 0; offset < size; offset += kBufferSize)
            delegate->message(bytes + offset, std::min(kBufferSize, size - offset), now);
        return;
    }
    const size_t length = incomingLength(bytes[0]);
    if (length == 0) return;
    uint8_t message[3] = {0, 0, 0};
    std::copy_n(bytes, std::min(length, size), message);
    delegate->message(message, length, now);
}

const std::vector<MIDIEndpointRecord>& MIDIInputPort::endpoints() {
    endpoints_ = enumerateEndpoints(client_.driver(), MidiDirection::Input);
    return endpoints_;
}

void MIDIInputPort::connect(const MIDIEndpointRecord& record) {
    const auto n = findDevice(client_.driver(), MidiDirection::Input, record);
    bool opened = false;
    if (n) {
        std::lock_guard lock(devicesMutex_);
        auto it = devices_.find(record.endpointUID);
        if (it != devices_.end()) {
            opened = it->second->open(client_.driver(), *n);
            if (!opened) devices_.erase(it);
        } else {
            auto device = std::make_unique<MIDIInputDevice>(*this);
            opened = device->open(client_.driver(), *n);
            if (opened) devices_.emplace(record.endpointUID, std::move(device));
        }
    }
    if (!opened) {
        if (MIDIClientDelegate* d = client_.delegate()) d->inputConnectFailed(record);
    }
}

void MIDIInputPort::disconnect(const MIDIEndpointRecord& record) {
    std::unique_ptr<MIDIInputDevice> closing;
    {
        std::lock_guard lock(devicesMutex_);
        auto it = devices_.find(record.endpointUID);
        if (it == devices_.end()) return;
        closing = std::move(it->second);
        devices_.erase(it);
    }
    closing.reset();
}

void MIDIInputPort::connectAll() {
    for (const auto& record : enumerateEndpoints(client_.driver(), MidiDirection::Input))
        connect(record);
}

void MIDIInputPort::disconnectAll() {
    std::map<std::string, std::unique_ptr<MIDIInputDevice>> closing;
    {
        std::lock_guard lock(devicesMutex_);
        closing.swap(devices_);
    }
    closing.clear();
}

size_t MIDIInputPort::openCount() const {
    std::lock_guard lock(devicesMutex_);
    return devices_.size();
}

bool MIDIInputPort::isOpen(const std::string& endpointUID) const {
    std::lock_guard lock(devicesMutex_);
    auto it = devices_.find(endpointUID);
    return it != devices_.end() && it->second->isOpen();
}

} // namespace kx5
