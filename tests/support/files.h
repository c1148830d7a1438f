// Whole files for the tests: read (empty when missing) and written.
#pragma once

#include <string>

namespace kx5::test {

std::string readFile(const std::string& path);
// Replaces the file; false when it could not be written.
bool writeFile(const std::string& path, const std::string& bytes);

} // namespace kx5::test
