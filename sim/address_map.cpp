#include "sim/address_map.h"

#include <picojson.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <stdexcept>

namespace kx5::sim {
namespace {

using picojson::array;
using picojson::object;
using picojson::value;

[[noreturn]] void fail(const std::string& where, const std::string& what) {
    throw std::runtime_error("address map: " + where + ": " + what);
}

const object& asObject(const value& v, const std::string& where) {
    if (!v.is<object>()) fail(where, "expected an object");
    return v.get<object>();
}

const value* member(const object& o, const char* key) {
    auto it = o.find(key);
    return it == o.end() ? nullptr : &it->second;
}

std::string text(const object& o, const char* key, const std::string& where,
                 const char* fallback = nullptr) {
    const value* v = member(o, key);
    if (!v) {
        if (fallback) return fallback;
        fail(where, std::string("missing \"") + key + "\"");
    }
    if (!v->is<std::string>()) fail(where, std::string("\"") + key + "\" must be text");
    return v->get<std::string>();
}

double number(const object& o, const char* key, const std::string& where, double fallback) {
    const value* v = member(o, key);
    if (!v) return fallback;
    if (!v->is<double>()) fail(where, std::string("\"") + key + "\" must be a number");
    return v->get<double>();
}

int integer(const object& o, const char* key, const std::string& where, int fallback) {
    const double d = number(o, key, where, fallback);
    if (d != std::floor(d) || d < 0 || d > 1e7) fail(where, std::string("bad \"") + key + "\"");
    return static_cast<int>(d);
}

uint32_t packedAddress(const object& o, const char* key, const std::string& where) {
    const std::string s = text(o, key, where);
    const auto bytes = parseHex(s);
    if (s.size() != 8 || !bytes) fail(where, "address must be 8 hex digits");
    uint32_t x = 0;
    for (uint8_t b : *bytes) {
        if (b & 0x80) fail(where, "address groups must be below 80");
        x = (x << 8) | b;
    }
    return nibble(x);
}

std::string expandName(const std::string& name, int index) {
    const auto hash = name.find('#');
    if (hash == std::string::npos) return name;
    return name.substr(0, hash) + std::to_string(index + 1) + name.substr(hash + 1);
}

Bytes hexBytes(const std::string& s, const std::string& where) {
    auto b = parseHex(s);
    if (!b || b->empty()) fail(where, "expected hex bytes");
    return *b;
}

// Bytes of a size-code name; 0 for text and pad (their length is given).
int fixedBytes(std::string_view type) {
    static const std::map<std::string_view, int> sizes = {
        {"1x1", 1}, {"1x2", 1}, {"1x3", 1}, {"1x4", 1}, {"1x5", 1}, {"1x6", 1},
        {"1x7", 1}, {"2x4", 2}, {"4x4", 4}, {"8x4", 8}, {"2x7", 2}};
    auto it = sizes.find(type);
    return it == sizes.end() ? 0 : it->second;
}

int64_t storedNumber(const object& p, const std::string& where) {
    const double init = number(p, "init", where, 0);
    double offset = 0, factor = 1;
    if (const value* ofs = member(p, "ofs")) {
        if (ofs->is<double>()) {
            offset = ofs->get<double>();
        } else if (ofs->is<array>() && ofs->get<array>().size() == 2 &&
                   ofs->get<array>()[0].is<double>() && ofs->get<array>()[1].is<double>()) {
            offset = ofs->get<array>()[0].get<double>();
            factor = ofs->get<array>()[1].get<double>();
        } else {
            fail(where, "\"ofs\" must be a number or [offset, factor]");
        }
    }
    return static_cast<int64_t>(std::trunc(init * factor)) + static_cast<int64_t>(offset);
}

} // namespace

Bytes encodeInitial(std::string_view type, int length, double stored,
                    const std::string& textValue) {
    const int64_t v = static_cast<int64_t>(stored);
    const int n = fixedBytes(type);
    if (type == "text") {
        Bytes out(static_cast<size_t>(length), 0x20);
        for (size_t i = 0; i < out.size() && i < textValue.size(); ++i)
            out[i] = static_cast<uint8_t>(textValue[i]) & 0x7F;
        return out;
    }
    if (type == "pad") return Bytes(static_cast<size_t>(length), static_cast<uint8_t>(v & 0x7F));
    if (n == 1) return {static_cast<uint8_t>(v & 0x7F)};
    if (type == "2x7")
        return {static_cast<uint8_t>((v >> 7) & 0x7F), static_cast<uint8_t>(v & 0x7F)};
    const int64_t width = int64_t{1} << (4 * n);
    uint64_t u = static_cast<uint64_t>(((v % width) + width) % width);
    Bytes out(static_cast<size_t>(n));
    for (int i = n - 1; i >= 0; --i, u >>= 4)
        out[static_cast<size_t>(i)] = u & 0xF;
    return out;
}

AddressMap AddressMap::parse(std::string_view json) {
    value root;
    const std::string err = picojson::parse(root, std::string(json));
    if (!err.empty()) fail("file", err);
    const object& def = asObject(root, "file");
    AddressMap map;
    map.product_ = text(def, "product", "file", "KX-5");
    map.identity_.manufacturerId =
        hexBytes(text(def, "manufacturerId", "file"), "manufacturerId")[0];
    map.identity_.modelId = hexBytes(text(def, "modelId", "file"), "modelId");
    map.deviceId_ = hexBytes(text(def, "deviceId", "file", "10"), "deviceId")[0];
    map.communicationLevel_ = integer(def, "communicationLevel", "file", 0);
    if (map.identity_.manufacturerId & 0x80 || map.deviceId_ & 0x80)
        fail("file", "ids must be 7-bit");

    const value* templates = member(def, "templates");
    const value* areas = member(def, "areas");
    if (!areas || !areas->is<array>()) fail("file", "missing \"areas\"");
    for (const value& areaValue : areas->get<array>()) {
        const object& area = asObject(areaValue, "area");
        const std::string areaName = text(area, "name", "area");
        const uint32_t base = packedAddress(area, "address", areaName);
        const uint32_t stride =
            member(area, "stride") ? packedAddress(area, "stride", areaName) : 0;
        const int count = integer(area, "count", areaName, 1);
        const value* blocks = member(area, "blocks");
        if (member(area, "template")) {
            const std::string t = text(area, "template", areaName);
            if (!templates || !templates->is<object>() || !templates->get<object>().count(t))
                fail(areaName, "unknown template " + t);
            blocks = &templates->get<object>().at(t);
        }
        if (!blocks || !blocks->is<array>()) fail(areaName, "no blocks");
        for (int a = 0; a < count; ++a) {
            const std::string name = expandName(areaName, a);
            const uint32_t areaAddress = base + static_cast<uint32_t>(a) * stride;
            for (const value& blockValue : blocks->get<array>()) {
                const object& b = asObject(blockValue, name);
                BlockDef block;
                block.id = name + "%" + text(b, "name", name);
                block.address = areaAddress + packedAddress(b, "address", block.id);
                block.variable =
                    member(b, "variable") && member(b, "variable")->evaluate_as_boolean();
                if (block.variable) {
                    const int max = integer(b, "maxSize", block.id, 0);
                    if (max <= 0) fail(block.id, "variable block needs maxSize");
                    block.size = static_cast<uint32_t>(4 + max);
                    block.initial = Bytes(4, 0);
                } else {
                    const value* params = member(b, "params");
                    if (!params || !params->is<array>()) fail(block.id, "no params");
                    int next = 0;
                    for (const value& pv : params->get<array>()) {
                        const object& p = asObject(pv, block.id);
                        const std::string where = block.id + "%" + text(p, "name", block.id);
                        const std::string type = text(p, "type", where);
                        int bytes = fixedBytes(type);
                        if (bytes == 0) {
                            if (type != "text" && type != "pad")
                                fail(where, "unknown type " + type);
                            bytes = integer(p, "length", where, 0);
                            if (bytes <= 0) fail(where, "needs a length");
                        }
                        const int pcount = integer(p, "count", where, 1);
                        const int pstride = integer(p, "stride", where, bytes);
                        const int start = integer(p, "offset", where, next);
                        const bool isText = type == "text";
                        const std::string initText = isText ? text(p, "init", where, "") : "";
                        const double stored =
                            isText ? 0 : static_cast<double>(storedNumber(p, where));
                        const Bytes image = encodeInitial(type, bytes, stored, initText);
                        for (int i = 0; i < pcount; ++i) {
                            const size_t offset = static_cast<size_t>(start + i * pstride);
                            if (block.initial.size() < offset + image.size())
                                block.initial.resize(offset + image.size(), 0);
                            std::copy(image.begin(), image.end(), block.initial.begin() + offset);
                            next = static_cast<int>(offset + image.size());
                        }
                    }
                    block.size = static_cast<uint32_t>(block.initial.size());
                    if (block.size == 0) fail(block.id, "empty block");
                }
                map.blocks_.push_back(std::move(block));
            }
        }
    }
    std::sort(map.blocks_.begin(), map.blocks_.end(),
              [](const BlockDef& a, const BlockDef& b) { return a.address < b.address; });
    for (size_t i = 1; i < map.blocks_.size(); ++i) {
        const BlockDef& prev = map.blocks_[i - 1];
        if (prev.address + prev.size > map.blocks_[i].address)
            fail(map.blocks_[i].id, "overlaps " + prev.id);
    }
    return map;
}

const BlockDef* AddressMap::find(std::string_view id) const {
    for (const auto& b : blocks_)
        if (b.id == id) return &b;
    return nullptr;
}

std::optional<size_t> AddressMap::locate(uint32_t address) const {
    auto it = std::upper_bound(blocks_.begin(), blocks_.end(), address,
                               [](uint32_t a, const BlockDef& b) { return a < b.address; });
    if (it == blocks_.begin()) return {};
    --it;
    if (address >= it->address + it->size) return {};
    return static_cast<size_t>(it - blocks_.begin());
}

} // namespace kx5::sim
