#include "midi/midi_output_port.h"

#include "midi/midi_client.h"
#include "midi/midi_device_lookup.h"

namespace kx5 {

bool MIDIOutputEndpoint::open(MidiDriver& driver, int deviceNumber) {
    close();
    stream_ = driver.openOutput(deviceNumber);
    return stream_ != nullptr;
}

int32_t MIDIOutputEndpoint::sendShort(const uint8_t* bytes, size_t size) {
    return stream_ ? stream_->sendShort(bytes, size) : MidiOk;
}

int32_t MIDIOutputEndpoint::sendLong(const uint8_t* bytes, size_t size) {
    return stream_ ? stream_->sendLong(bytes, size) : MidiOk;
}

const std::vector<MIDIEndpointRecord>& MIDIOutputPort::endpoints() {
    endpoints_ = enumerateEndpoints(client_.driver(), MidiDirection::Output);
    return endpoints_;
}

void MIDIOutputPort::connect(const MIDIEndpointRecord& record) {
    const auto n = findDevice(client_.driver(), MidiDirection::Output, record);
    bool opened = false;
    if (n) {
        std::lock_guard lock(endpointLock_);
        auto it = open_.find(record.endpointUID);
        if (it != open_.end()) {
            opened = it->second->open(client_.driver(), *n);
            if (!opened) open_.erase(it);
        } else {
            auto endpoint = std::make_unique<MIDIOutputEndpoint>();
            opened = endpoint->open(client_.driver(), *n);
            if (opened) open_.emplace(record.endpointUID, std::move(endpoint));
        }
    }
    if (!opened) {
        if (MIDIClientDelegate* d = client_.delegate()) d->outputConnectFailed(record);
    }
}

void MIDIOutputPort::disconnect(const MIDIEndpointRecord& record) {
    std::lock_guard lock(endpointLock_);
    open_.erase(record.endpointUID);
}

void MIDIOutputPort::connectAll() {
    for (const auto& record : enumerateEndpoints(client_.driver(), MidiDirection::Output))
        connect(record);
}

void MIDIOutputPort::disconnectAll() {
    std::lock_guard lock(endpointLock_);
    open_.clear();
}

void MIDIOutputPort::send(const uint8_t* bytes, size_t size) {
    parseFrom(pageSource_, bytes, size);
}

void MIDIOutputPort::echo(const uint8_t* bytes, size_t size) {
    parseFrom(echoSource_, bytes, size);
}

void MIDIOutputPort::parseFrom(Source& source, const uint8_t* bytes, size_t size) {
    std::lock_guard lock(source.mutex);
    source.parser.parse(bytes, size, [this](const uint8_t* message, size_t length, bool exclusive) {
        deliver(message, length, exclusive);
    });
}

void MIDIOutputPort::deliver(const uint8_t* bytes, size_t size, bool exclusive) {
    std::lock_guard lock(endpointLock_);
    for (auto& [uid, endpoint] : open_) {
        if (!endpoint->isOpen()) continue;
        const int32_t result =
            exclusive ? endpoint->sendLong(bytes, size) : endpoint->sendShort(bytes, size);
        if (result != MidiOk) {
            endpoint->close();
            if (MIDIClientDelegate* d = client_.delegate()) d->error(result);
        }
    }
}

size_t MIDIOutputPort::openCount() const {
    std::lock_guard lock(endpointLock_);
    return open_.size();
}

bool MIDIOutputPort::isOpen(const std::string& endpointUID) const {
    std::lock_guard lock(endpointLock_);
    auto it = open_.find(endpointUID);
    return it != open_.end() && it->second->isOpen();
}

} // namespace kx5
