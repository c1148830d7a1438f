#include "modules/fs/media_library.h"

#include "bridge/native_call.h"
#include "modules/fs/file_operations.h"
#include "modules/fs/path_text.h"

#include <picojson.h>

#include <cerrno>
#include <unistd.h>

namespace kx5 {
namespace {

bool isUnsafeInUrl(unsigned char c) {
    if (c <= 0x20 || c >= 0x7F) return true;
    switch (c) {
    case '"':
    case '#':
    case '%':
    case '<':
    case '>':
    case '?':
    case '[':
    case '\\':
    case ']':
    case '^':
    case '`':
    case '{':
    case '|':
    case '}':
        return true;
    default:
        return false;
    }
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Only %XX escapes; "+" stays itself in a file URL.
std::string decodeEscapes(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && text.size() - i >= 3) {
            const int high = hexValue(text[i + 1]), low = hexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out += char(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

// Base name and extension (dot included) of a file name; a name without a
// dot is all extension, so its copies are numbered in front of it.
void splitName(const std::string& name, std::string& base, std::string& extension) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) {
        base.clear();
        extension = name;
        return;
    }
    base = name.substr(0, dot);
    extension = name.substr(dot);
}

constexpr int maxNumberedCopies = 100000;

} // namespace

std::string mediaUrl(std::string_view path) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (isUnsafeInUrl(c)) {
            url += '%';
            url += digits[c >> 4];
            url += digits[c & 15];
        } else {
            url += ch;
        }
    }
    return url;
}

std::string importRecord(std::string_view path) {
    picojson::object record;
    record["url"] = picojson::value(mediaUrl(path));
    return picojson::value(record).serialize();
}

std::string importMediaFile(const std::string& source, const std::string& libraryFolder) {
    std::string base, extension;
    splitName(lastComponent(withoutTrailingSlashes(source)), base, extension);
    std::string target = libraryFolder + base + extension;
    for (int counter = 1;; ++counter) {
        const int error = tryCopyFile(source, target);
        if (error == 0) return target;
        if (error != EEXIST || counter > maxNumberedCopies) throw NativeException(error);
        target = libraryFolder + base + "_" + std::to_string(counter) + extension;
    }
}

std::string deleteMediaFile(const std::string& url, const std::string& libraryFolder) {
    std::string_view rest(url);
    if (rest.rfind("file://", 0) == 0) rest.remove_prefix(7);
    const std::string path = decodeEscapes(rest);
    // Only the library's own copies: a file directly inside its folder.
    const std::string library = withoutTrailingSlashes(libraryFolder);
    const std::string name = lastComponent(path);
    if (parentFolder(path) != library || name.empty() || name == "." || name == "..") return {};
    if (unlink(path.c_str()) != 0) return {};
    return path;
}

} // namespace kx5
