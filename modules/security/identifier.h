// Random identifiers in the usual 8-4-4-4-12 text form.
#pragma once

#include <string>

namespace kx5::security {

inline constexpr const char* kPlaceholderIdentifier = "01234567-89AB-CDEF-0123-456789ABCDEF";

// A new random identifier, upper case, 36 characters; the placeholder when
// none could be made.
std::string makeIdentifier();

} // namespace kx5::security
