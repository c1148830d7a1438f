#include "midi/driver_combined.h"

namespace kx5 {

int CombinedMidiDriver::count(MidiDirection direction) {
    int total = 0;
    for (const auto& d : drivers_)
        total += d->count(direction);
    return total;
}

std::pair<MidiDriver*, int> CombinedMidiDriver::locate(MidiDirection direction, int n) {
    if (n < 0) return {nullptr, 0};
    for (const auto& d : drivers_) {
        const int c = d->count(direction);
        if (n < c) return {d.get(), n};
        n -= c;
    }
    return {nullptr, 0};
}

std::optional<std::string> CombinedMidiDriver::productName(MidiDirection direction, int n) {
    auto [driver, local] = locate(direction, n);
    if (!driver) return std::nullopt;
    return driver->productName(direction, local);
}

std::string CombinedMidiDriver::interfaceName(MidiDirection direction, int n) {
    auto [driver, local] = locate(direction, n);
    return driver ? driver->interfaceName(direction, local) : std::string();
}

std::unique_ptr<MidiInputStream> CombinedMidiDriver::openInput(int n, MidiReceiver receiver) {
    auto [driver, local] = locate(MidiDirection::Input, n);
    return driver ? driver->openInput(local, std::move(receiver)) : nullptr;
}

std::unique_ptr<MidiOutputStream> CombinedMidiDriver::openOutput(int n) {
    auto [driver, local] = locate(MidiDirection::Output, n);
    return driver ? driver->openOutput(local) : nullptr;
}

} // namespace kx5
