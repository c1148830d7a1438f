#include "net/shell_output.h"

#include "bridge/encoding.h"

namespace kx5::net {
namespace {

// Length of a trailing UTF-8 sequence that is still missing bytes, else 0.
size_t incompleteTail(const std::string& s) {
    const size_t n = s.size();
    for (size_t back = 1; back <= 3 && back <= n; ++back) {
        const auto c = static_cast<unsigned char>(s[n - back]);
        if ((c & 0xC0) == 0x80) continue; // continuation byte
        size_t need = 0;
        if ((c & 0xE0) == 0xC0)
            need = 2;
        else if ((c & 0xF0) == 0xE0)
            need = 3;
        else if ((c & 0xF8) == 0xF0)
            need = 4;
        return need > back ? back : 0;
    }
    return 0;
}

std::string convert(const std::string& bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        text += bytes[i];
    }
    return toUtf8(text);
}

} // namespace

std::string ShellOutputDecoder::decode(std::string_view piece) {
    std::string bytes = std::move(held_);
    held_.clear();
    for (char c : piece)
        if (c != '\0') bytes += c;
    size_t keep = incompleteTail(bytes);
    if (keep == 0 && !bytes.empty() && bytes.back() == '\r') keep = 1;
    held_ = bytes.substr(bytes.size() - keep);
    bytes.resize(bytes.size() - keep);
    return convert(bytes);
}

std::string ShellOutputDecoder::finish() {
    std::string rest = std::move(held_);
    held_.clear();
    return convert(rest);
}

} // namespace kx5::net
