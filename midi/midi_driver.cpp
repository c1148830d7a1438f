#include "midi/midi_driver.h"

namespace kx5 {

std::string cutToUtf16Units(const std::string& text, size_t maxUnits) {
    size_t units = 0;
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        size_t length = 1;
        if (lead >= 0xF0)
            length = 4;
        else if (lead >= 0xE0)
            length = 3;
        else if (lead >= 0xC0)
            length = 2;
        const size_t needed = length == 4 ? 2 : 1;
        if (units + needed > maxUnits || i + length > text.size()) break;
        units += needed;
        i += length;
    }
    return text.substr(0, i);
}

} // namespace kx5
