// The output side of a MIDIClient: enumeration, the open output endpoints
// keyed by endpoint UID, and the stream parsers that turn sent bytes into
// messages for every open endpoint.
#pragma once

#include "midi/midi_delegates.h"
#include "midi/midi_driver.h"
#include "midi/midi_stream_parser.h"

#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace kx5 {

class MIDIClient;

class MIDIOutputEndpoint {
  public:
    bool open(MidiDriver& driver, int deviceNumber);
    void close() { stream_.reset(); }
    bool isOpen() const { return stream_ != nullptr; }
    // Driver result code; a closed endpoint sends nothing and returns 0.
    int32_t sendShort(const uint8_t* bytes, size_t size);
    int32_t sendLong(const uint8_t* bytes, size_t size);

  private:
    std::unique_ptr<MidiOutputStream> stream_;
};

class MIDIOutputPort {
  public:
    explicit MIDIOutputPort(MIDIClient& client) : client_(client) {}
    ~MIDIOutputPort() { disconnectAll(); }
    MIDIOutputPort(const MIDIOutputPort&) = delete;
    MIDIOutputPort& operator=(const MIDIOutputPort&) = delete;

    const std::vector<MIDIEndpointRecord>& endpoints();
    void connect(const MIDIEndpointRecord& record);
    void disconnect(const MIDIEndpointRecord& record);
    void connectAll();
    void disconnectAll();

    // Bytes from the page. The parser keeps its state between calls.
    void send(const uint8_t* bytes, size_t size);
    // Bytes echoed from an input ("thru"): a parser of their own, so an echo
    // never lands inside a message the page is still sending.
    void echo(const uint8_t* bytes, size_t size);
    // One complete message to every open endpoint. An endpoint that fails is
    // closed (it stays listed) and the client's delegate gets error(code).
    void deliver(const uint8_t* bytes, size_t size, bool exclusive);

    size_t openCount() const;
    bool isOpen(const std::string& endpointUID) const;

  private:
    struct Source {
        std::mutex mutex;
        MidiStreamParser parser;
    };
    void parseFrom(Source& source, const uint8_t* bytes, size_t size);

    MIDIClient& client_;
    std::vector<MIDIEndpointRecord> endpoints_;
    mutable std::mutex endpointLock_;
    std::map<std::string, std::unique_ptr<MIDIOutputEndpoint>> open_;
    Source pageSource_;
    Source echoSource_;
};

} // namespace kx5
