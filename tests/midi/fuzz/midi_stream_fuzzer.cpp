// libFuzzer target for the MIDI output stream parser: every message it gives
// out is well formed, and a stream cut into pieces anywhere gives the same
// messages as the stream in one piece.
#include "midi/midi_stream_parser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Message {
    std::string bytes;
    bool exclusive;
    bool operator==(const Message&) const = default;
};

void check(const uint8_t* bytes, size_t size, bool exclusive) {
    if (size == 0) std::abort();
    if (exclusive) {
        if (size < 2 || size > kx5::MidiStreamParser::kMaxExclusive || bytes[0] != 0xF0 ||
            bytes[size - 1] != 0xF7)
            std::abort();
        for (size_t i = 1; i + 1 < size; ++i)
            if (bytes[i] >= 0x80) std::abort();
        return;
    }
    if (size > 3 || bytes[0] < 0x80 || bytes[0] == 0xF0 || bytes[0] == 0xF7) std::abort();
    for (size_t i = 1; i < size; ++i)
        if (bytes[i] >= 0x80) std::abort();
}

std::vector<Message> parseInPieces(const uint8_t* data, size_t size, size_t piece) {
    kx5::MidiStreamParser parser;
    std::vector<Message> out;
    const auto sink = [&](const uint8_t* b, size_t n, bool exclusive) {
        check(b, n, exclusive);
        out.push_back({std::string(reinterpret_cast<const char*>(b), n), exclusive});
    };
    for (size_t at = 0; at < size; at += piece)
        parser.parse(data + at, std::min(piece, size - at), sink);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The first byte picks the size of the pieces.
    const size_t piece = 1 + data[0] % 7;
    const auto whole = parseInPieces(data + 1, size - 1, size);
    if (parseInPieces(data + 1, size - 1, piece) != whole) std::abort();
    return 0;
}
