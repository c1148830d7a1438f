#include "net/tether_protocol.h"

#include <cstdio>
#include <cstring>

namespace kx5::net::tether {
namespace {

constexpr char kMagic[] = "TDDPv1";
constexpr size_t kMagicSize = 6;

void putText(Bytes& out, size_t offset, size_t width, const std::string& text) {
    std::memcpy(out.data() + offset, text.data(), std::min(width, text.size()));
}

std::string getText(const uint8_t* p, size_t width) {
    const auto* begin = reinterpret_cast<const char*>(p);
    return toUtf8(std::string_view(begin, ::strnlen(begin, width)));
}

} // namespace

uint16_t readU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

uint32_t readU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

void appendU16(Bytes& out, uint16_t v) {
    out += static_cast<char>(v >> 8);
    out += static_cast<char>(v & 0xFF);
}

void appendU32(Bytes& out, uint32_t v) {
    appendU16(out, static_cast<uint16_t>(v >> 16));
    appendU16(out, static_cast<uint16_t>(v & 0xFFFF));
}

Bytes discoveryDatagram(uint16_t replyPort) {
    Bytes out(kMagic, kMagicSize);
    appendU16(out, replyPort);
    return out;
}

std::optional<uint16_t> parseDiscoveryDatagram(const Bytes& datagram) {
    if (datagram.size() < kDatagramSize || datagram.compare(0, kMagicSize, kMagic) != 0)
        return std::nullopt;
    return readU16(reinterpret_cast<const uint8_t*>(datagram.data()) + kMagicSize);
}

Bytes encodeReply(const DiscoveryReply& r) {
    Bytes out(kReplySize, '\0');
    std::memcpy(out.data(), kMagic, kMagicSize);
    out[6] = static_cast<char>(r.controlPort >> 8);
    out[7] = static_cast<char>(r.controlPort & 0xFF);
    for (int i = 0; i < 4; ++i)
        out[8 + i] = static_cast<char>(r.serial >> (24 - 8 * i));
    out[12] = static_cast<char>(r.caps);
    out[13] = static_cast<char>(r.image);
    out[14] = static_cast<char>(r.status);
    putText(out, 20, 16, r.manufacturer);
    putText(out, 36, 8, r.uidPrefix);
    putText(out, 44, 8, r.version);
    putText(out, 52, 16, r.name);
    return out;
}

std::optional<DiscoveryReply> decodeReply(const uint8_t* p) {
    if (std::memcmp(p, kMagic, kMagicSize) != 0) return std::nullopt;
    DiscoveryReply r;
    r.controlPort = readU16(p + 6);
    r.serial = readU32(p + 8);
    r.caps = p[12];
    r.image = p[13];
    r.status = p[14];
    r.manufacturer = getText(p + 20, 16);
    r.uidPrefix = getText(p + 36, 8);
    r.version = getText(p + 44, 8);
    r.name = getText(p + 52, 16);
    return r;
}

std::string deviceUid(const DiscoveryReply& reply) {
    char serial[9];
    std::snprintf(serial, sizeof serial, "%08X", reply.serial);
    return reply.uidPrefix + "-" + serial;
}

Bytes encodeMessage(uint8_t type, uint8_t sub, const Bytes& payload) {
    const size_t size = std::min<size_t>(payload.size(), kMaxPayload);
    Bytes out;
    out.reserve(kHeaderSize + size);
    out += static_cast<char>(type);
    out += static_cast<char>(sub);
    appendU16(out, static_cast<uint16_t>(size));
    out.append(payload, 0, size);
    return out;
}

MessageReader::Result MessageReader::next(Message& message) {
    if (failed_) return Result::Invalid;
    if (buffer_.size() < kHeaderSize) return Result::NeedMore;
    const auto* p = reinterpret_cast<const uint8_t*>(buffer_.data());
    const uint16_t length = readU16(p + 2);
    if (length > kMaxPayload) {
        failed_ = true;
        buffer_.clear();
        return Result::Invalid;
    }
    if (buffer_.size() < kHeaderSize + length) return Result::NeedMore;
    message.type = p[0];
    message.sub = p[1];
    message.payload.assign(buffer_, kHeaderSize, length);
    buffer_.erase(0, kHeaderSize + length);
    return Result::Message;
}

size_t MessageReader::room() const {
    const size_t frame = kHeaderSize + kMaxPayload;
    return buffer_.size() >= frame ? 0 : frame - buffer_.size();
}

} // namespace kx5::net::tether

namespace kx5::net::tether {

StateBlock StateBlock::decode(const uint8_t* p) {
    StateBlock b;
    b.status = p[0];
    b.volume = p[1];
    b.left = static_cast<int8_t>(p[2]);
    b.right = static_cast<int8_t>(p[3]);
    b.position = readU32(p + 4);
    return b;
}

Bytes StateBlock::encode() const {
    Bytes out;
    out += static_cast<char>(status);
    out += static_cast<char>(volume);
    out += static_cast<char>(left);
    out += static_cast<char>(right);
    appendU32(out, position);
    out.append(8, '\0');
    return out;
}

} // namespace kx5::net::tether
