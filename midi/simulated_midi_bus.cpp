#include "midi/simulated_midi_bus.h"

#include <algorithm>

namespace kx5 {

SimulatedMidiDevice::SimulatedMidiDevice(std::shared_ptr<SimulatedMidiBus> bus, uint64_t id,
                                         std::string product, std::string interface)
    : bus_(std::move(bus)), id_(id), productName_(std::move(product)),
      interfaceName_(std::move(interface)) {}

SimulatedMidiDevice::~SimulatedMidiDevice() {
    bus_->removeDevice(id_);
}

bool SimulatedMidiDevice::sendToHost(const uint8_t* bytes, size_t size) {
    return bus_->queueToHost(id_, bytes, size);
}

bool SimulatedMidiDevice::hostListening() const {
    return bus_->hasReceiver(id_);
}

std::shared_ptr<SimulatedMidiBus> SimulatedMidiBus::shared() {
    static std::mutex mutex;
    static std::weak_ptr<SimulatedMidiBus> instance;
    std::lock_guard lock(mutex);
    auto bus = instance.lock();
    if (!bus) {
        bus = create();
        instance = bus;
    }
    return bus;
}

std::shared_ptr<SimulatedMidiBus> SimulatedMidiBus::create() {
    return std::shared_ptr<SimulatedMidiBus>(new SimulatedMidiBus());
}

SimulatedMidiBus::SimulatedMidiBus() : deliveryThread_([this] { deliveryLoop(); }) {}

SimulatedMidiBus::~SimulatedMidiBus() {
    {
        std::lock_guard lock(queueMutex_);
        stopping_ = true;
    }
    queueSignal_.notify_all();
    if (deliveryThread_.get_id() == std::this_thread::get_id())
        deliveryThread_.detach();
    else
        deliveryThread_.join();
}

std::unique_ptr<SimulatedMidiDevice>
SimulatedMidiBus::addDevice(std::string productName, std::string interfaceName, Handler handler) {
    auto slot = std::make_shared<HandlerSlot>();
    slot->handler = std::move(handler);
    uint64_t id;
    {
        std::lock_guard lock(devicesMutex_);
        id = nextId_++;
        devices_.push_back({id, productName, interfaceName, slot});
    }
    return std::unique_ptr<SimulatedMidiDevice>(new SimulatedMidiDevice(
        shared_from_this(), id, std::move(productName), std::move(interfaceName)));
}

void SimulatedMidiBus::removeDevice(uint64_t deviceId) {
    std::shared_ptr<HandlerSlot> slot;
    {
        std::lock_guard lock(devicesMutex_);
        auto it = std::find_if(devices_.begin(), devices_.end(),
                               [&](const Device& d) { return d.id == deviceId; });
        if (it == devices_.end()) return;
        slot = it->slot;
        devices_.erase(it);
    }
    // Waits for a handler call in progress; later calls see the flag.
    std::lock_guard lock(slot->mutex);
    slot->removed = true;
    slot->handler = nullptr;
}

std::vector<SimulatedMidiBus::Listing> SimulatedMidiBus::devices() const {
    std::lock_guard lock(devicesMutex_);
    std::vector<Listing> out;
    out.reserve(devices_.size());
    for (const auto& d : devices_)
        out.push_back({d.id, d.productName, d.interfaceName});
    return out;
}

size_t SimulatedMidiBus::deviceCount() const {
    std::lock_guard lock(devicesMutex_);
    return devices_.size();
}

bool SimulatedMidiBus::deviceExists(uint64_t deviceId) const {
    std::lock_guard lock(devicesMutex_);
    return std::any_of(devices_.begin(), devices_.end(),
                       [&](const Device& d) { return d.id == deviceId; });
}

uint64_t SimulatedMidiBus::openReceiver(uint64_t deviceId, Receiver receiver) {
    if (!deviceExists(deviceId)) return 0;
    std::lock_guard lock(receiversMutex_);
    const uint64_t id = nextReceiverId_++;
    receivers_.push_back({id, deviceId, std::move(receiver)});
    return id;
}

void SimulatedMidiBus::closeReceiver(uint64_t receiverId) {
    {
        std::lock_guard lock(receiversMutex_);
        std::erase_if(receivers_, [&](const ReceiverEntry& r) { return r.id == receiverId; });
    }
    // A dispatch that copied the receiver before it was erased ends first.
    std::lock_guard wait(dispatchMutex_);
}

bool SimulatedMidiBus::hasReceiver(uint64_t deviceId) const {
    std::lock_guard lock(receiversMutex_);
    return std::any_of(receivers_.begin(), receivers_.end(),
                       [&](const ReceiverEntry& r) { return r.deviceId == deviceId; });
}

bool SimulatedMidiBus::sendToDevice(uint64_t deviceId, const uint8_t* bytes, size_t size) {
    std::shared_ptr<HandlerSlot> slot;
    {
        std::lock_guard lock(devicesMutex_);
        for (const auto& d : devices_)
            if (d.id == deviceId) slot = d.slot;
    }
    if (!slot) return false;
    std::lock_guard lock(slot->mutex);
    if (slot->removed) return false;
    if (slot->handler) slot->handler(bytes, size);
    return true;
}

bool SimulatedMidiBus::queueToHost(uint64_t deviceId, const uint8_t* bytes, size_t size) {
    if (size == 0 || !hasReceiver(deviceId)) return false;
    {
        std::lock_guard lock(queueMutex_);
        queue_.push_back({deviceId, std::vector<uint8_t>(bytes, bytes + size)});
    }
    queueSignal_.notify_one();
    return true;
}

void SimulatedMidiBus::deliveryLoop() {
    std::vector<Receiver> targets;
    for (;;) {
        Pending next;
        {
            std::unique_lock lock(queueMutex_);
            queueSignal_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            next = std::move(queue_.front());
            queue_.pop_front();
        }
        std::lock_guard dispatch(dispatchMutex_);
        targets.clear();
        {
            std::lock_guard lock(receiversMutex_);
            for (const auto& r : receivers_)
                if (r.deviceId == next.deviceId) targets.push_back(r.receiver);
        }
        for (const auto& receive : targets)
            receive(next.bytes.data(), next.bytes.size());
    }
}

} // namespace kx5
