#include "tests/support/event_text.h"

namespace kx5::test {

std::vector<std::string> eventFields(const std::string& text) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t ff = text.find('\f', start);
        fields.push_back(text.substr(start, ff - start));
        if (ff == std::string::npos) return fields;
        start = ff + 1;
    }
}

} // namespace kx5::test
