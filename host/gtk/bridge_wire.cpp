#include "host/gtk/bridge_wire.h"

#include <cerrno>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kx5::wire {
namespace {

void putU32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

uint32_t getU32(const char* p) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<uint32_t>(static_cast<unsigned char>(p[i])) << (8 * i);
    return v;
}

bool validType(uint8_t t) {
    return t >= 1 && t <= 6;
}

// Splits a payload into type and fields; false when the lengths do not add up.
bool decodePayload(const char* p, size_t size, Message& m) {
    if (size < 1 || !validType(static_cast<uint8_t>(p[0]))) return false;
    m.type = static_cast<MessageType>(p[0]);
    m.fields.clear();
    size_t pos = 1;
    while (pos < size) {
        if (size - pos < 4) return false;
        const uint32_t len = getU32(p + pos);
        pos += 4;
        if (len > size - pos) return false;
        m.fields.emplace_back(p + pos, len);
        pos += len;
    }
    return true;
}

} // namespace

std::string encode(MessageType type, const std::vector<std::string_view>& fields) {
    size_t payload = 1;
    for (auto f : fields)
        payload += 4 + f.size();
    std::string out;
    out.reserve(4 + payload);
    putU32(out, static_cast<uint32_t>(payload));
    out += static_cast<char>(type);
    for (auto f : fields) {
        putU32(out, static_cast<uint32_t>(f.size()));
        out.append(f);
    }
    return out;
}

std::string encode(const Message& message) {
    std::vector<std::string_view> views(message.fields.begin(), message.fields.end());
    return encode(message.type, views);
}

void FrameReader::feed(const char* data, size_t size) {
    if (failed_) return;
    if (consumed_ > 0 && consumed_ == buffer_.size()) {
        buffer_.clear();
        consumed_ = 0;
    }
    buffer_.append(data, size);
}

std::optional<Message> FrameReader::next() {
    if (failed_) return std::nullopt;
    const size_t available = buffer_.size() - consumed_;
    if (available < 4) return std::nullopt;
    const uint32_t payload = getU32(buffer_.data() + consumed_);
    if (payload == 0 || payload > kMaxFrameSize) {
        failed_ = true;
        return std::nullopt;
    }
    if (available - 4 < payload) return std::nullopt;
    Message m;
    if (!decodePayload(buffer_.data() + consumed_ + 4, payload, m)) {
        failed_ = true;
        return std::nullopt;
    }
    consumed_ += 4 + payload;
    // Keep the buffer from growing without bound over a long session.
    if (consumed_ > 65536 && consumed_ * 2 > buffer_.size()) {
        buffer_.erase(0, consumed_);
        consumed_ = 0;
    }
    return m;
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

namespace {
bool readExactly(int fd, char* out, size_t size) {
    while (size > 0) {
        const ssize_t n = recv(fd, out, size, 0);
        if (n == 0) return false;
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        out += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}
} // namespace

bool readMessage(int fd, Message& message) {
    char header[4];
    if (!readExactly(fd, header, 4)) return false;
    const uint32_t payload = getU32(header);
    if (payload == 0 || payload > kMaxFrameSize) return false;
    std::string body(payload, '\0');
    if (!readExactly(fd, body.data(), payload)) return false;
    return decodePayload(body.data(), body.size(), message);
}

std::string randomToken() {
    unsigned char bytes[32];
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return {};
        }
        got += static_cast<size_t>(n);
    }
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

bool tokensEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

} // namespace kx5::wire
