#include "sim/kx5_unit.h"

#include <picojson.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

namespace kx5::sim {
namespace {

// Editor command addresses (linear).
const uint32_t kCommunicationLevel = nibble(0x7F000000);
const uint32_t kCommunicationMode = nibble(0x7F000001);
const uint32_t kRunningMode = nibble(0x7F000002);
const uint32_t kCommunicationRevision = nibble(0x7F000003);
const uint32_t kPatchSelect = nibble(0x7F000100);
const uint32_t kPatchStored = nibble(0x7F000102);
const uint32_t kPatchWrite = nibble(0x7F000104);
const uint32_t kPatchTempClear = nibble(0x7F010003);
const uint32_t kIrSlotInitialize = nibble(0x7F000200);
const uint32_t kSetIrData = nibble(0x7F000300);
const uint32_t kBatteryStatus = nibble(0x7F000301);
const uint32_t kCurrentPatchName = nibble(0x60000000);
const uint32_t kCommandArea = nibble(0x7F000000);

constexpr size_t kSlots = 11;
constexpr size_t kNumberOfPatches = 2;
constexpr size_t kPatchNameLength = 16;
constexpr size_t kMaxSysex = 65536;
constexpr uint8_t kRevision[4] = {0x00, 0x01, 0x00, 0x00};
constexpr uint8_t kSlotEmpty = 0, kSlotLoaded = 1, kSlotInvalid = 2;

std::string slotBlock(size_t slot, const char* name) {
    return "IRDATA(" + std::to_string(slot + 1) + ")%" + name;
}

std::string addressText(uint32_t linear) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X", sevenBitize(linear));
    return buf;
}

bool digits(const Bytes& b, size_t from, size_t count) {
    for (size_t i = from; i < from + count && i < b.size(); ++i)
        if (b[i] > 0xF) return false;
    return from + count <= b.size();
}

uint32_t digitValue(const Bytes& b, size_t from, size_t count) {
    uint32_t v = 0;
    for (size_t i = from; i < from + count; ++i)
        v = (v << 4) | (b[i] & 0xF);
    return v;
}

} // namespace

Kx5Unit::Kx5Unit(const AddressMap& map, UnitOptions options, Sink sink)
    : map_(map), options_(options), sink_(std::move(sink)), memory_(map),
      rate_(options.inputBitsPerSecond, options.inputBufferBytes) {}

void Kx5Unit::setTrace(Trace trace) {
    std::lock_guard lock(mutex_);
    trace_ = std::move(trace);
}

void Kx5Unit::trace(const std::string& line) const {
    if (trace_) trace_(line);
}

void Kx5Unit::clearFaults() {
    std::lock_guard lock(mutex_);
    options_.noReply = options_.wrongChecksum = options_.wrongDevice = options_.identityOnly =
        false;
    options_.dropDt1 = 0;
    silent_ = false;
}

void Kx5Unit::stopAnswering() {
    std::lock_guard lock(mutex_);
    silent_ = true;
}

void Kx5Unit::loadDump(const std::string& json) {
    picojson::value v;
    const std::string error = picojson::parse(v, json);
    if (!error.empty()) throw std::runtime_error("dump: " + error);
    if (!v.is<picojson::object>() || !v.get("blocks").is<picojson::object>())
        throw std::runtime_error("dump: no \"blocks\" object");
    std::vector<std::pair<Bytes*, Bytes>> loaded;
    std::lock_guard lock(mutex_);
    for (const auto& [id, hex] : v.get("blocks").get<picojson::object>()) {
        Bytes* block = memory_.block(id);
        const BlockDef* def = map_.find(id);
        if (!block || !def) throw std::runtime_error("dump: unknown block " + id);
        const auto bytes = hex.is<std::string>() ? parseHex(hex.get<std::string>()) : std::nullopt;
        const bool fits = bytes && (def->variable ? bytes->size() >= 4 && bytes->size() <= def->size
                                                  : bytes->size() == def->size);
        if (!fits) throw std::runtime_error("dump: block " + id + " has the wrong size");
        for (uint8_t b : *bytes)
            if (b > 0x7F) throw std::runtime_error("dump: block " + id + " holds no data bytes");
        loaded.emplace_back(block, std::move(*bytes));
    }
    for (auto& [block, bytes] : loaded)
        *block = std::move(bytes);
}

UnitStats Kx5Unit::stats() const {
    std::lock_guard lock(mutex_);
    return stats_;
}

Bytes Kx5Unit::blockData(std::string_view id) const {
    std::lock_guard lock(mutex_);
    const Bytes* b = memory_.block(id);
    return b ? *b : Bytes{};
}

bool Kx5Unit::communicationMode() const {
    std::lock_guard lock(mutex_);
    return communicationMode_;
}

void Kx5Unit::receive(const uint8_t* bytes, size_t size, double t) {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < size; ++i) {
        const uint8_t b = bytes[i];
        if (b >= 0xF8) continue; // real-time bytes may sit anywhere
        if (b == kSysexStart) {
            partial_.assign(1, b);
            inSysex_ = true;
        } else if (inSysex_) {
            if (b & 0x80 && b != kSysexEnd) {
                inSysex_ = false; // another status ends an unfinished message
                partial_.clear();
                continue;
            }
            partial_.push_back(b);
            if (b == kSysexEnd) {
                inSysex_ = false;
                Bytes message;
                message.swap(partial_);
                handleMessage(message, t);
            } else if (partial_.size() > kMaxSysex) {
                inSysex_ = false;
                partial_.clear();
            }
        }
        // Channel and other system messages mean nothing to the editor link.
    }
}

void Kx5Unit::handleMessage(const Bytes& message, double t) {
    if (silent_) {
        ++stats_.dropped;
        return;
    }
    if (!rate_.accept(message.size(), t)) {
        ++stats_.overruns;
        trace("lost (input overrun): " + std::to_string(message.size()) + " bytes");
        return;
    }
    ++stats_.messages;
    if (isIdentityRequest(message)) {
        trace("identity request");
        if (message[2] != kAllDevices && message[2] != options_.deviceId) return;
        ModelIdentity id = map_.identity();
        if (options_.wrongDevice && !id.modelId.empty()) id.modelId.back() ^= 0x01;
        reply(identityReply(id, options_.deviceId, kRevision));
        return;
    }
    const auto m = parseMakerMessage(message, map_.identity());
    if (!m) {
        trace("ignored: " + hexText(message).substr(0, 40));
        return;
    }
    if (m->deviceId != options_.deviceId && m->deviceId != kAllDevices) {
        trace("ignored: for device " + std::to_string(m->deviceId));
        return;
    }
    if (!m->checksumOk) {
        ++stats_.badChecksums;
        trace("ignored: bad checksum at " + addressText(m->address));
        return;
    }
    if (m->command == kCommandRq1) {
        trace("RQ1 " + addressText(m->address) + " size " + std::to_string(m->size));
        handleRq1(m->address, m->size);
    } else {
        trace("DT1 " + addressText(m->address) + " " + std::to_string(m->data.size()) + " bytes");
        handleDt1(m->address, m->data, message);
    }
}

void Kx5Unit::reply(Bytes message) {
    if (options_.noReply) return;
    const bool universal = message.size() > 2 && message[1] == 0x7E;
    if (options_.identityOnly && !universal) return;
    if (options_.wrongChecksum && !universal) message[message.size() - 2] ^= 0x01;
    ++stats_.replies;
    if (sink_) sink_(message);
}

void Kx5Unit::replyData(uint32_t address, const Bytes& data) {
    const uint8_t device = options_.wrongDevice ? (options_.deviceId ^ 0x01) : options_.deviceId;
    const size_t piece = std::max<size_t>(options_.maxReplyData, 1);
    size_t at = 0;
    do {
        const size_t n = std::min(piece, data.size() - at);
        reply(dt1Frame(map_.identity(), device, address + static_cast<uint32_t>(at),
                       data.data() + at, n));
        at += n;
    } while (at < data.size());
}

void Kx5Unit::handleRq1(uint32_t address, uint32_t size) {
    auto answer = [&](Bytes data) {
        if (size < data.size()) data.resize(std::max<uint32_t>(size, 1));
        replyData(address, data);
    };
    if (address == kCommunicationLevel)
        return answer({static_cast<uint8_t>(options_.communicationLevel & 0x7F)});
    if (address == kCommunicationMode)
        return answer({communicationMode_ ? uint8_t{1} : uint8_t{0}});
    if (address == kRunningMode) return answer({options_.runningMode});
    if (address == kCommunicationRevision) return answer(Bytes(kRevision, kRevision + 4));
    if (address == kBatteryStatus) return answer({0x7F}); // on external power
    if (address == kPatchStored) {
        const uint8_t n = memory_.block("SETUP%COMMON")->at(0);
        bool same = true;
        for (size_t i = 0; i < map_.blocks().size(); ++i) {
            const std::string& id = map_.blocks()[i].id;
            if (id.rfind("PATCH%", 0) != 0) continue;
            const Bytes* stored =
                memory_.block("PATCH(" + std::to_string(n + 1) + ")" + id.substr(5));
            same = same && stored && *stored == memory_.block(i);
        }
        return answer({same ? uint8_t{1} : uint8_t{0}});
    }
    if (address == kCurrentPatchName) {
        const Bytes& common = *memory_.block("PATCH%COMMON");
        return answer(Bytes(common.begin(), common.begin() + kPatchNameLength));
    }
    const auto index = map_.locate(address);
    if (!index) {
        ++stats_.unknownAddress;
        return;
    }
    // Past a variable block's current end the answer carries no data.
    replyData(address, memory_.read(address, size));
}

void Kx5Unit::handleDt1(uint32_t address, const Bytes& data, const Bytes& raw) {
    if (address >= kCommandArea || address == kCurrentPatchName) {
        if (!handleCommand(address, data, raw)) ++stats_.unknownAddress;
        return;
    }
    if (options_.dropDt1 != 0 && ++memoryDt1s_ == options_.dropDt1) {
        ++stats_.dropped;
        trace("lost on purpose: DT1 " + addressText(address));
        return;
    }
    const int index = memory_.write(address, data);
    if (index < 0) {
        ++stats_.unknownAddress;
        return;
    }
    // Writing the current patch number selects that patch.
    const BlockDef& block = map_.blocks()[static_cast<size_t>(index)];
    if (block.id == "SETUP%COMMON" && address == block.address && !data.empty())
        selectPatch(data[0]);
}

bool Kx5Unit::handleCommand(uint32_t address, const Bytes& data, const Bytes& raw) {
    auto echo = [&] {
        reply(dt1Frame(map_.identity(), options_.deviceId, address, data.data(), data.size()));
    };
    (void)raw;
    if (data.empty()) return false;
    if (address == kCommunicationMode) {
        communicationMode_ = data[0] == 0x01;
        return true;
    }
    if (address == kPatchSelect) {
        if (data[0] >= kNumberOfPatches) return false;
        selectPatch(data[0]);
        echo();
        return true;
    }
    if (address == kPatchWrite) {
        if (data[0] >= kNumberOfPatches) return false;
        copyArea("PATCH", "PATCH(" + std::to_string(data[0] + 1) + ")");
        echo();
        return true;
    }
    if (address == kPatchTempClear) {
        const uint8_t n = memory_.block("SETUP%COMMON")->at(0);
        copyArea("PATCH(" + std::to_string(n + 1) + ")", "PATCH");
        echo();
        return true;
    }
    if (address == kIrSlotInitialize) {
        if (data.size() < 2) return false;
        const size_t slot = (size_t{data[0]} << 7) | data[1];
        if (slot >= kSlots) return false;
        for (const char* part : {"NAME", "SIZE", "FILE", "DATA"}) {
            for (size_t i = 0; i < map_.blocks().size(); ++i)
                if (map_.blocks()[i].id == slotBlock(slot, part)) memory_.reset(i);
        }
        memory_.block("IRDATA%STATUS")->at(slot) = kSlotEmpty;
        echo();
        return true;
    }
    if (address == kSetIrData) {
        const size_t slot = data[0];
        if (slot >= kSlots) return false;
        const uint8_t state = validateIrSlot(slot);
        memory_.block("IRDATA%STATUS")->at(slot) = state;
        trace("slot " + std::to_string(slot + 1) + (state == kSlotLoaded ? " loaded" : " invalid"));
        echo();
        const BlockDef* status = map_.find("IRDATA%STATUS");
        replyData(status->address + static_cast<uint32_t>(slot), {state});
        return true;
    }
    return false;
}

uint8_t Kx5Unit::validateIrSlot(size_t slot) const {
    const Bytes& name = *memory_.block(slotBlock(slot, "NAME"));
    const Bytes& size = *memory_.block(slotBlock(slot, "SIZE"));
    const Bytes& file = *memory_.block(slotBlock(slot, "FILE"));
    const Bytes& data = *memory_.block(slotBlock(slot, "DATA"));
    for (uint8_t c : name)
        if (c < 0x20 || c > 0x7E) return kSlotInvalid;
    if (!digits(size, 0, 4)) return kSlotInvalid;
    const uint32_t fileBytes = digitValue(size, 0, 4);
    if (fileBytes == 0 || fileBytes > 127 || !digits(file, 0, fileBytes * 2)) return kSlotInvalid;
    bool any = false;
    for (size_t at = 0; at + 8 <= data.size(); at += 8) {
        if (!digits(data, at, 8)) return kSlotInvalid;
        const uint32_t word = digitValue(data, at, 8);
        if (((word >> 23) & 0xFF) == 0xFF) return kSlotInvalid; // NaN or infinity
        any = any || (word & 0x7FFFFFFF) != 0;
    }
    return any ? kSlotLoaded : kSlotInvalid;
}

void Kx5Unit::selectPatch(uint8_t index) {
    if (index >= kNumberOfPatches) return;
    copyArea("PATCH(" + std::to_string(index + 1) + ")", "PATCH");
    memory_.block("SETUP%COMMON")->at(0) = index;
}

void Kx5Unit::copyArea(const std::string& from, const std::string& to) {
    const std::string prefix = from + "%";
    for (size_t i = 0; i < map_.blocks().size(); ++i) {
        const std::string& id = map_.blocks()[i].id;
        if (id.rfind(prefix, 0) != 0) continue;
        if (Bytes* target = memory_.block(to + "%" + id.substr(prefix.size())))
            *target = memory_.block(i);
    }
}

std::string Kx5Unit::dumpJson() const {
    std::lock_guard lock(mutex_);
    picojson::value blocks;
    picojson::parse(blocks, memory_.dumpBlocksJson());
    picojson::object o;
    o["product"] = picojson::value(map_.product());
    o["deviceId"] = picojson::value(hexText(&options_.deviceId, 1));
    o["communicationMode"] = picojson::value(communicationMode_);
    o["blocks"] = blocks;
    picojson::object stats;
    stats["messages"] = picojson::value(static_cast<double>(stats_.messages));
    stats["overruns"] = picojson::value(static_cast<double>(stats_.overruns));
    stats["badChecksums"] = picojson::value(static_cast<double>(stats_.badChecksums));
    stats["unknownAddress"] = picojson::value(static_cast<double>(stats_.unknownAddress));
    stats["replies"] = picojson::value(static_cast<double>(stats_.replies));
    stats["dropped"] = picojson::value(static_cast<double>(stats_.dropped));
    o["stats"] = picojson::value(stats);
    return picojson::value(o).serialize() + "\n";
}

bool Kx5Unit::dumpToFile(const std::string& path, std::string* error) const {
    const std::string text = dumpJson();
    const std::string temp = path + ".tmp" + std::to_string(::getpid());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            if (error) *error = "cannot write " + temp;
            std::error_code ec;
            std::filesystem::remove(temp, ec);
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    if (ec) {
        if (error) *error = "cannot replace " + path + ": " + ec.message();
        std::filesystem::remove(temp, ec);
        return false;
    }
    return true;
}

} // namespace kx5::sim
