// Throughput of the output path: the stream parser alone, and page bytes
// through the output port to an in-process device.
#include "midi/driver_simulated.h"
#include "midi/midi_client.h"
#include "midi/midi_stream_parser.h"
#include "midi/simulated_midi_bus.h"

#include <benchmark/benchmark.h>

#include <vector>

using namespace kx5;

namespace {

std::vector<uint8_t> exclusiveMessage(size_t size) {
    std::vector<uint8_t> m{0xF0};
    while (m.size() < size - 1)
        m.push_back(static_cast<uint8_t>(m.size() & 0x7F));
    m.push_back(0xF7);
    return m;
}

void ParseExclusive(benchmark::State& state) {
    const auto message = exclusiveMessage(static_cast<size_t>(state.range(0)));
    MidiStreamParser parser;
    size_t delivered = 0;
    for (auto _ : state) {
        parser.parse(message.data(), message.size(),
                     [&](const uint8_t*, size_t n, bool) { delivered += n; });
    }
    benchmark::DoNotOptimize(delivered);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * message.size()));
}
BENCHMARK(ParseExclusive)->Arg(16)->Arg(256)->Arg(512);

void ParseNotesWithRunningStatus(benchmark::State& state) {
    std::vector<uint8_t> notes{0x90};
    for (int i = 0; i < 300; ++i) {
        notes.push_back(static_cast<uint8_t>(i & 0x7F));
        notes.push_back(0x40);
    }
    MidiStreamParser parser;
    size_t count = 0;
    for (auto _ : state)
        parser.parse(notes.data(), notes.size(), [&](const uint8_t*, size_t, bool) { ++count; });
    benchmark::DoNotOptimize(count);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * 300));
}
BENCHMARK(ParseNotesWithRunningStatus);

void SendToInProcessDevice(benchmark::State& state) {
    auto bus = SimulatedMidiBus::create();
    size_t received = 0;
    auto device =
        bus->addDevice("bench", "sim:bench", [&](const uint8_t*, size_t n) { received += n; });
    MIDIClient client(std::make_shared<SimulatedMidiDriver>(bus));
    client.outputPort().connectAll();
    const auto message = exclusiveMessage(256);
    for (auto _ : state)
        client.outputPort().send(message.data(), message.size());
    benchmark::DoNotOptimize(received);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * message.size()));
}
BENCHMARK(SendToInProcessDevice);

} // namespace

BENCHMARK_MAIN();
