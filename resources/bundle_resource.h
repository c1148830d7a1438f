// The page bundle linked into the executable: a ZIP archive whose entries lie
// below "html/", and the identifier of its content.
#pragma once

#include <string_view>

namespace kx5 {

std::string_view bundleArchive();
const char* bundleId();

} // namespace kx5
