// Turns a command's raw output, read in pipe-sized pieces, into event texts:
// CRLF becomes LF, NUL bytes are dropped, and neither a CRLF pair nor a UTF-8
// sequence is torn apart at a read boundary (their start waits for the next
// piece).
#pragma once

#include <string>
#include <string_view>

namespace kx5::net {

class ShellOutputDecoder {
  public:
    // How many bytes the next read may take so that one text stays within
    // maxText bytes.
    size_t readSize(size_t maxText) const { return maxText - held_.size(); }
    // The text for one piece (may be empty when everything was held back).
    std::string decode(std::string_view piece);
    // What is still held at the end of the output.
    std::string finish();

  private:
    std::string held_;
};

} // namespace kx5::net
