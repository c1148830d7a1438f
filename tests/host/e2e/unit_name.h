// The unit's rule for slot names, as the editor page applies it before a
// name is written: printable ASCII only; a Latin letter with an accent (or a
// stroke) becomes its base letter, anything else "?"; at most 32 characters,
// trailing spaces dropped.
#pragma once

#include <cstddef>
#include <string>

namespace kx5::e2e {

std::string unitSlotName(const std::string& utf8, size_t length = 32);

} // namespace kx5::e2e
