// The input side of a MIDIClient: enumeration and the open input devices,
// keyed by endpoint UID. Changed only from the caller's thread; messages come
// from driver threads.
#pragma once

#include "midi/midi_delegates.h"
#include "midi/midi_driver.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace kx5 {

class MIDIClient;
class MIDIInputPort;

// One open input. Every message from the driver becomes one or more calls of
// the port's input delegate:
// - an exclusive message (starting with F0) in consecutive pieces of at most
//   512 bytes;
// - a short message cut to the length its status gives (missing data bytes
//   read as 0); timing clock F8, active sensing FE, F0, F4, F5, F7, F9, FD and
//   messages starting with a data byte are dropped.
class MIDIInputDevice {
  public:
    static constexpr size_t kBufferSize = 512;

    explicit MIDIInputDevice(MIDIInputPort& port) : port_(port) {}
    ~MIDIInputDevice() { close(); }
    MIDIInputDevice(const MIDIInputDevice&) = delete;
    MIDIInputDevice& operator=(const MIDIInputDevice&) = delete;

    bool open(MidiDriver& driver, int deviceNumber);
    void close();
    bool isOpen() const { return stream_ != nullptr; }

  private:
    void received(const uint8_t* bytes, size_t size);

    MIDIInputPort& port_;
    std::unique_ptr<MidiInputStream> stream_;
};

class MIDIInputPort {
  public:
    explicit MIDIInputPort(MIDIClient& client) : client_(client) {}
    ~MIDIInputPort() { disconnectAll(); }
    MIDIInputPort(const MIDIInputPort&) = delete;
    MIDIInputPort& operator=(const MIDIInputPort&) = delete;

    void setInputDelegate(MIDIInputDelegate* delegate) { inputDelegate_.store(delegate); }
    MIDIInputDelegate* inputDelegate() const { return inputDelegate_.load(); }

    // Enumerates into the port's list and returns it.
    const std::vector<MIDIEndpointRecord>& endpoints();
    void connect(const MIDIEndpointRecord& record);
    void disconnect(const MIDIEndpointRecord& record);
    void connectAll();
    void disconnectAll();

    size_t openCount() const;
    bool isOpen(const std::string& endpointUID) const;

  private:
    friend class MIDIInputDevice;

    MIDIClient& client_;
    std::atomic<MIDIInputDelegate*> inputDelegate_{nullptr};
    std::vector<MIDIEndpointRecord> endpoints_;
    mutable std::mutex devicesMutex_;
    std::map<std::string, std::unique_ptr<MIDIInputDevice>> devices_;
};

} // namespace kx5
