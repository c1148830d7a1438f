// A model of the KX-5 as its editor sees it over MIDI: identity reply, RQ1
// answered from its memory, DT1 stored, and the editor commands. Bytes go in
// through receive(); replies leave through the sink given at construction.
#pragma once

#include "sim/input_rate_limit.h"
#include "sim/unit_memory.h"

#include <functional>
#include <mutex>
#include <string>

namespace kx5::sim {

struct UnitOptions {
    uint8_t deviceId = 0x10;
    int communicationLevel = 0;
    uint8_t runningMode = 0x01;
    // Receive rate (bits per second; 0: unlimited) and input buffer. The
    // default rate is the USB rate the editor paces its messages to; the
    // buffer absorbs scheduling jitter of a few messages, not a burst.
    double inputBitsPerSecond = 312500;
    size_t inputBufferBytes = 4096;
    // Largest data part of one DT1 the unit sends; longer answers are split.
    size_t maxReplyData = 256;
    // Faults for tests.
    bool noReply = false;       // stays silent (still stores what it gets)
    bool wrongChecksum = false; // DT1 replies carry a bad checksum
    bool wrongDevice = false;   // answers as another model on another device id
    bool identityOnly = false;  // answers the identity request only (still stores)
    size_t dropDt1 = 0;         // loses the Nth DT1 into its memory (1: the first), once
};

struct UnitStats {
    size_t messages = 0;     // complete messages taken in
    size_t overruns = 0;     // lost to the input rate
    size_t badChecksums = 0; // DT1/RQ1 ignored for their checksum
    size_t unknownAddress = 0;
    size_t replies = 0;
    size_t dropped = 0; // DT1 lost on purpose (the drop fault) or while silent
};

class Kx5Unit {
  public:
    using Sink = std::function<void(const Bytes& message)>;
    using Trace = std::function<void(const std::string& line)>;

    Kx5Unit(const AddressMap& map, UnitOptions options, Sink sink);

    // Bytes from the wire (any split; exclusive messages are collected up to
    // their F7) arriving at time t in seconds. Thread-safe.
    void receive(const uint8_t* bytes, size_t size, double t);
    void receive(const Bytes& bytes, double t) { receive(bytes.data(), bytes.size(), t); }

    // {"product":..,"deviceId":..,"communicationMode":..,"blocks":{..}}
    std::string dumpJson() const;
    // Written to a temporary file beside it, then renamed over it.
    bool dumpToFile(const std::string& path, std::string* error = nullptr) const;

    void setTrace(Trace trace);
    // The unit answers normally from now on (the fault options off, and
    // silent no more).
    void clearFaults();
    // From now on the unit takes nothing in and answers nothing, as a unit
    // that hung with its port still there; clearFaults() ends it.
    void stopAnswering();
    // Replaces the memory with the blocks of a dump (dumpJson's format), as
    // a unit that kept its memory while it was off. Throws
    // std::runtime_error naming the first problem; nothing changes then.
    void loadDump(const std::string& json);
    UnitStats stats() const;
    Bytes blockData(std::string_view id) const;
    bool communicationMode() const;

  private:
    void handleMessage(const Bytes& message, double t);
    void handleRq1(uint32_t address, uint32_t size);
    void handleDt1(uint32_t address, const Bytes& data, const Bytes& raw);
    bool handleCommand(uint32_t address, const Bytes& data, const Bytes& raw);
    void reply(Bytes message);
    void replyData(uint32_t address, const Bytes& data);
    void selectPatch(uint8_t index);
    void copyArea(const std::string& from, const std::string& to);
    uint8_t validateIrSlot(size_t slot) const;
    void trace(const std::string& line) const;

    const AddressMap& map_;
    UnitOptions options_;
    Sink sink_;
    Trace trace_;
    mutable std::mutex mutex_;
    UnitMemory memory_;
    InputRateLimit rate_;
    UnitStats stats_;
    Bytes partial_;
    bool inSysex_ = false;
    bool communicationMode_ = false;
    bool silent_ = false;
    size_t memoryDt1s_ = 0;
};

} // namespace kx5::sim
