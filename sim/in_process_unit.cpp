#include "sim/in_process_unit.h"

#include "midi/simulated_midi_bus.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace kx5::sim {
namespace {

double secondsNow() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

InProcessUnit::InProcessUnit(std::shared_ptr<SimulatedMidiBus> bus, InProcessUnitOptions options)
    : options_(std::move(options)) {
    if (options_.replyDelayMs > 0)
        late_ = std::make_unique<DelayedSender>(std::chrono::milliseconds(options_.replyDelayMs),
                                                [this](const Bytes& m) { toHost(m); });
    unit_ = std::make_unique<Kx5Unit>(AddressMap::builtIn(), options_.unit, [this](const Bytes& m) {
        if (late_)
            late_->send(m);
        else
            toHost(m);
    });
    handle_ = bus->addDevice(kProductName, kInterfaceName, [this](const uint8_t* b, size_t n) {
        unit_->receive(b, n, secondsNow());
    });
    device_ = handle_.get();
}

InProcessUnit::~InProcessUnit() {
    device_ = nullptr;
    handle_.reset(); // no handler call runs after this
    late_.reset();
    if (!options_.dumpFile.empty()) {
        std::string error;
        if (!unit_->dumpToFile(options_.dumpFile, &error))
            std::fprintf(stderr, "simulated KX-5: %s\n", error.c_str());
    }
}

void InProcessUnit::toHost(const Bytes& message) {
    if (SimulatedMidiDevice* d = device_.load()) d->sendToHost(message);
}

std::unique_ptr<InProcessUnit> startInProcessUnit(const std::vector<std::string>& arguments) {
    InProcessUnitOptions options;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        if (a == "--no-simulated-unit") return nullptr;
        const bool hasValue = i + 1 < arguments.size();
        if (a == "--simulated-unit-dump" && hasValue) {
            options.dumpFile = arguments[++i];
        } else if (a == "--simulated-unit-reply-delay" && hasValue) {
            const std::string& v = arguments[++i];
            if (!v.empty() &&
                std::all_of(v.begin(), v.end(),
                            [](unsigned char c) { return c >= '0' && c <= '9'; }) &&
                v.size() < 7)
                options.replyDelayMs = std::stoi(v);
            else
                std::fprintf(stderr, "simulated KX-5: ignoring reply delay \"%s\"\n", v.c_str());
        }
    }
    return std::make_unique<InProcessUnit>(SimulatedMidiBus::shared(), std::move(options));
}

} // namespace kx5::sim
