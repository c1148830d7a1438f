#include "tests/security/security_test_support.h"

namespace kx5::test {

bool hasShape(const std::string& text, const std::string& pattern) {
    if (text.size() != pattern.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
        if (pattern[i] == 'H' ? !hex : c != pattern[i]) return false;
    }
    return true;
}

SecurityCalls::SecurityCalls(const std::string& keyFolder) : module_(nullptr, keyFolder) {
    module_.registerIn(table_);
}

std::string SecurityCalls::operator()(const std::string& function, Args args) {
    return dispatchCall(table_, "$$security_" + function, std::move(args));
}

} // namespace kx5::test
