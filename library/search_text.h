// The form names, folders and tags are searched in: case folded, accents
// removed, so "Über" is found by "uber" and "V30" by "v30".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kx5 {

std::string foldForSearch(std::string_view text);

// The words of a search as typed (split at white space), each folded.
std::vector<std::string> searchTerms(std::string_view typed);

} // namespace kx5
