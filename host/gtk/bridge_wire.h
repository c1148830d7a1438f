// The private protocol between the web process extension and the window
// process. Kept free of WebKit headers: both sides include it.
//
// A frame is a 4-byte little-endian payload length, then the payload: one
// type byte and any number of fields, each a 4-byte little-endian length and
// that many bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx5::wire {

enum class MessageType : uint8_t {
    Hello = 1,        // extension -> host: token, page id
    Call = 2,         // extension -> host: call name, then 0-2 arguments; answered by Result
    Result = 3,       // host -> extension: the typed result text
    Document = 4,     // extension -> host: the main frame got a new document (its address)
    FrameMessage = 5, // extension -> host: an iframe posted a text: frame name, text
    Arguments = 6     // later program start -> first one: its command-line arguments
};

struct Message {
    MessageType type{};
    std::vector<std::string> fields;
};

// Larger frames are refused: nothing legitimate comes close.
constexpr uint32_t kMaxFrameSize = 512u * 1024 * 1024;

std::string encode(MessageType type, const std::vector<std::string_view>& fields);
std::string encode(const Message& message);

// Collects bytes as they arrive and hands out complete messages.
class FrameReader {
  public:
    void feed(const char* data, size_t size);
    // The next complete message, if any. After a malformed frame failed()
    // stays true and nothing more is returned.
    std::optional<Message> next();
    bool failed() const { return failed_; }
    bool idle() const { return buffer_.size() == consumed_; }

  private:
    std::string buffer_;
    size_t consumed_ = 0;
    bool failed_ = false;
};

// Blocking helpers for a socket (EINTR retried, SIGPIPE never raised).
bool writeAll(int fd, std::string_view bytes);
// Reads one message; false on end of stream, error or a malformed frame.
bool readMessage(int fd, Message& message);

// 32 random bytes as hex, from the kernel's generator.
std::string randomToken();
// Constant-time comparison for the token check.
bool tokensEqual(std::string_view a, std::string_view b);

} // namespace kx5::wire
