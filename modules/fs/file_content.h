// Whole-file and byte-range transfers of "readString", "readData",
// "writeString", "writeData", "appendString" and "appendData".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kx5 {

struct ReadRange {
    int32_t offset = 0;
    // Negative: everything from the offset to the end of the file.
    int32_t length = -1;
};

// The "readData" options {"offset":n,"length":n}; both numbers are required.
// Throws std::invalid_argument when the text is not such an object.
ReadRange parseReadOptions(const std::string& json);

// The bytes of the range; reading stops at the end of the file. A negative
// offset is refused (EINVAL).
std::string readFileRange(const std::string& path, ReadRange range);

// Replaces the file's content so that the old content stays whole until the
// new one is safely on disk (temporary file in the same folder, synced, then
// renamed over it, keeping the old file's permissions and owner).
void replaceFileContent(const std::string& path, std::string_view bytes);

// Adds the bytes at the end of the file, creating it when missing; a failed
// write takes the file back to its old length.
void appendFileContent(const std::string& path, std::string_view bytes);

} // namespace kx5
