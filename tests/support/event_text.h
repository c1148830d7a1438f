// The fields of an event text as the page receives it (split at U+000C).
#pragma once

#include <string>
#include <vector>

namespace kx5::test {

std::vector<std::string> eventFields(const std::string& text);

} // namespace kx5::test
