#include "midi/driver_simulated.h"

namespace kx5 {
namespace {

class SimulatedInput final : public MidiInputStream {
  public:
    SimulatedInput(std::shared_ptr<SimulatedMidiBus> bus, uint64_t receiverId)
        : bus_(std::move(bus)), receiverId_(receiverId) {}
    ~SimulatedInput() override { bus_->closeReceiver(receiverId_); }

  private:
    std::shared_ptr<SimulatedMidiBus> bus_;
    uint64_t receiverId_;
};

class SimulatedOutput final : public MidiOutputStream {
  public:
    SimulatedOutput(std::shared_ptr<SimulatedMidiBus> bus, uint64_t deviceId)
        : bus_(std::move(bus)), deviceId_(deviceId) {}
    int32_t sendShort(const uint8_t* bytes, size_t size) override { return send(bytes, size); }
    int32_t sendLong(const uint8_t* bytes, size_t size) override { return send(bytes, size); }

  private:
    int32_t send(const uint8_t* bytes, size_t size) {
        return bus_->sendToDevice(deviceId_, bytes, size) ? MidiOk : MidiErrorDeviceGone;
    }

    std::shared_ptr<SimulatedMidiBus> bus_;
    uint64_t deviceId_;
};

} // namespace

std::optional<SimulatedMidiBus::Listing> SimulatedMidiDriver::device(int n) const {
    const auto list = bus_->devices();
    if (n < 0 || static_cast<size_t>(n) >= list.size()) return std::nullopt;
    return list[static_cast<size_t>(n)];
}

int SimulatedMidiDriver::count(MidiDirection) {
    return static_cast<int>(bus_->deviceCount());
}

std::optional<std::string> SimulatedMidiDriver::productName(MidiDirection, int n) {
    const auto d = device(n);
    if (!d) return std::nullopt;
    return cutToUtf16Units(d->productName, 31);
}

std::string SimulatedMidiDriver::interfaceName(MidiDirection, int n) {
    const auto d = device(n);
    return d ? d->interfaceName : std::string();
}

std::unique_ptr<MidiInputStream> SimulatedMidiDriver::openInput(int n, MidiReceiver receiver) {
    const auto d = device(n);
    if (!d) return nullptr;
    const uint64_t id = bus_->openReceiver(d->id, std::move(receiver));
    if (id == 0) return nullptr;
    return std::make_unique<SimulatedInput>(bus_, id);
}

std::unique_ptr<MidiOutputStream> SimulatedMidiDriver::openOutput(int n) {
    const auto d = device(n);
    if (!d || !bus_->deviceExists(d->id)) return nullptr;
    return std::make_unique<SimulatedOutput>(bus_, d->id);
}

} // namespace kx5
