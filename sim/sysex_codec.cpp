#include "sim/sysex_codec.h"

#include <cctype>

namespace kx5::sim {

uint32_t nibble(uint32_t x) {
    return ((x & 0x7F000000u) >> 3) | ((x & 0x007F0000u) >> 2) | ((x & 0x00007F00u) >> 1) |
           (x & 0x7Fu);
}

uint32_t sevenBitize(uint32_t x) {
    return ((x & 0x0FE00000u) << 3) | ((x & 0x001FC000u) << 2) | ((x & 0x00003F80u) << 1) |
           (x & 0x7Fu);
}

uint8_t checksum(const uint8_t* bytes, size_t size) {
    unsigned sum = 0;
    for (size_t i = 0; i < size; ++i)
        sum += bytes[i];
    return static_cast<uint8_t>((128 - sum % 128) & 0x7F);
}

namespace {

uint32_t read4(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

void put4(Bytes& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(v >> shift));
}

} // namespace

std::optional<MakerMessage> parseMakerMessage(const Bytes& m, const ModelIdentity& id) {
    const size_t model = id.modelId.size();
    const size_t head = 3 + model + 1; // F0, maker, device, model, command
    if (m.size() < head + 4 + 2 || m.front() != kSysexStart || m.back() != kSysexEnd) return {};
    if (m[1] != id.manufacturerId) return {};
    for (size_t i = 0; i < model; ++i)
        if (m[3 + i] != id.modelId[i]) return {};
    MakerMessage out;
    out.deviceId = m[2];
    out.command = m[head - 1];
    const uint8_t* body = m.data() + head;
    const size_t bodySize = m.size() - head - 2; // without checksum and F7
    for (size_t i = 0; i < bodySize + 1; ++i)
        if (body[i] & 0x80) return {};
    out.address = nibble(read4(body));
    out.checksumOk = checksum(body, bodySize) == m[m.size() - 2];
    if (out.command == kCommandRq1) {
        if (bodySize != 8) return {};
        out.size = nibble(read4(body + 4));
    } else if (out.command == kCommandDt1) {
        out.data.assign(body + 4, body + bodySize);
    } else {
        return {};
    }
    return out;
}

Bytes dt1Frame(const ModelIdentity& id, uint8_t deviceId, uint32_t address, const uint8_t* data,
               size_t size) {
    Bytes out;
    out.reserve(3 + id.modelId.size() + 1 + 4 + size + 2);
    out.push_back(kSysexStart);
    out.push_back(id.manufacturerId);
    out.push_back(deviceId);
    for (uint8_t b : id.modelId)
        out.push_back(b);
    out.push_back(kCommandDt1);
    const size_t body = out.size();
    put4(out, sevenBitize(address));
    for (size_t i = 0; i < size; ++i)
        out.push_back(data[i]);
    out.push_back(checksum(out.data() + body, out.size() - body));
    out.push_back(kSysexEnd);
    return out;
}

bool isIdentityRequest(const Bytes& m) {
    return m.size() == 6 && m[0] == 0xF0 && m[1] == 0x7E && m[3] == 0x06 && m[4] == 0x01 &&
           m[5] == 0xF7;
}

Bytes identityReply(const ModelIdentity& id, uint8_t deviceId, const uint8_t version[4]) {
    Bytes out{0xF0, 0x7E, deviceId, 0x06, 0x02, id.manufacturerId};
    const auto& model = id.modelId;
    if (!model.empty() && model[0] == 0x00) {
        out.push_back(model.back());
        out.push_back(static_cast<uint8_t>(model.size() - 1));
    } else {
        out.push_back(model.size() > 2 ? model[2] : 0);
        out.push_back(model.size() > 1 ? model[1] : 0);
    }
    out.push_back(0x00); // family member
    out.push_back(0x00);
    out.insert(out.end(), version, version + 4);
    out.push_back(0xF7);
    return out;
}

std::string hexText(const uint8_t* bytes, size_t size) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        s.push_back(digits[bytes[i] >> 4]);
        s.push_back(digits[bytes[i] & 0xF]);
    }
    return s;
}

std::optional<Bytes> parseHex(const std::string& text) {
    if (text.size() % 2) return {};
    Bytes out;
    out.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        if (!std::isxdigit(static_cast<unsigned char>(text[i])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 1])))
            return {};
        out.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    }
    return out;
}

} // namespace kx5::sim
