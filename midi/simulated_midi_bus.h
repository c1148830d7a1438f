// In-process MIDI devices: objects of this program that the MIDI layer lists
// and opens like any other device (the "simulated" driver).
//
// A device is added to a bus with a product name (the record's device name,
// e.g. "KX-5 (simulated)") and an interface name (e.g. "sim:kx5-1"); the pair
// is what identifies it in endpoint records, so keep both fixed for one
// device. Each device appears once in the host's input list (what the device
// sends) and once in its output list (what the host sends it), after the
// system's own devices, in the order the devices were added.
//
// Usage by a device model:
//
//     auto bus = SimulatedMidiBus::shared();
//     auto dev = bus->addDevice("KX-5 (simulated)", "sim:kx5-1",
//                               [&](const uint8_t* bytes, size_t size) {
//                                   model.receive(bytes, size); // may call dev->sendToHost
//                               });
//     ...
//     dev->sendToHost(reply.data(), reply.size());
//     dev.reset(); // removes the device (the host sees "changed")
//
// Threads: every function may be called from any thread.
// - The handler runs on the thread that sends from the host (usually the UI
//   thread), while the host holds the lock of its output endpoint list: keep it
//   short, never block on the host, and do not destroy the device from inside
//   it. It may call sendToHost.
// - sendToHost only queues: the bytes are copied and reach every host input
//   that has the device open on the bus's delivery thread, in the order they
//   were sent. The host stamps each message with its own millisecond tick
//   count when it arrives (as it does for every driver).
// - After ~SimulatedMidiDevice returns, its handler is not running and will
//   not run again.
//
// Messages: the host passes one complete MIDI message per handler call
// (a channel or system message of 1-3 bytes, or one exclusive message from
// F0 to F7 of at most 512 bytes). sendToHost should be given one complete
// message per call; the host cuts an exclusive message longer than 512 bytes
// into pieces of at most 512 bytes, as it does for every input.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kx5 {

class SimulatedMidiBus;

// One device on a bus; destroying the handle removes the device.
class SimulatedMidiDevice {
  public:
    ~SimulatedMidiDevice();
    SimulatedMidiDevice(const SimulatedMidiDevice&) = delete;
    SimulatedMidiDevice& operator=(const SimulatedMidiDevice&) = delete;

    // Queues one message for every host input that has this device open.
    // Returns false (and drops the bytes) when no host input has it open.
    bool sendToHost(const uint8_t* bytes, size_t size);
    bool sendToHost(const std::vector<uint8_t>& bytes) {
        return sendToHost(bytes.data(), bytes.size());
    }

    // True while at least one host input has this device open.
    bool hostListening() const;

    const std::string& productName() const { return productName_; }
    const std::string& interfaceName() const { return interfaceName_; }
    uint64_t id() const { return id_; }

  private:
    friend class SimulatedMidiBus;
    SimulatedMidiDevice(std::shared_ptr<SimulatedMidiBus> bus, uint64_t id, std::string product,
                        std::string interface);

    std::shared_ptr<SimulatedMidiBus> bus_;
    uint64_t id_;
    std::string productName_;
    std::string interfaceName_;
};

class SimulatedMidiBus : public std::enable_shared_from_this<SimulatedMidiBus> {
  public:
    // One complete message the host sent to the device.
    using Handler = std::function<void(const uint8_t* bytes, size_t size)>;
    // One message the device sent, as a host input receives it.
    using Receiver = std::function<void(const uint8_t* bytes, size_t size)>;

    // The bus the program's MIDI clients list (created on first use, alive
    // while anyone holds it). Tests may make private buses with create().
    static std::shared_ptr<SimulatedMidiBus> shared();
    static std::shared_ptr<SimulatedMidiBus> create();
    ~SimulatedMidiBus();
    SimulatedMidiBus(const SimulatedMidiBus&) = delete;
    SimulatedMidiBus& operator=(const SimulatedMidiBus&) = delete;

    // Adds a device at the end of the list. An empty interface name is allowed
    // (then the device's records carry the product name alone).
    std::unique_ptr<SimulatedMidiDevice> addDevice(std::string productName,
                                                   std::string interfaceName, Handler handler);

    // --- The host side (used by the simulated driver) ---
    struct Listing {
        uint64_t id;
        std::string productName;
        std::string interfaceName;
    };
    std::vector<Listing> devices() const;
    size_t deviceCount() const;
    // Returns a receiver id, or 0 when the device is gone.
    uint64_t openReceiver(uint64_t deviceId, Receiver receiver);
    // After this returns the receiver is not running and will not run again.
    // Must not be called from inside a receiver.
    void closeReceiver(uint64_t receiverId);
    // Passes one message to the device's handler; false when the device is gone.
    bool sendToDevice(uint64_t deviceId, const uint8_t* bytes, size_t size);
    bool deviceExists(uint64_t deviceId) const;

  private:
    friend class SimulatedMidiDevice;
    SimulatedMidiBus();
    void removeDevice(uint64_t deviceId);
    bool queueToHost(uint64_t deviceId, const uint8_t* bytes, size_t size);
    bool hasReceiver(uint64_t deviceId) const;
    void deliveryLoop();

    // Shared with running sendToDevice calls; the mutex is held while the
    // handler runs, so removal can wait for it.
    struct HandlerSlot {
        std::mutex mutex;
        Handler handler;
        bool removed = false;
    };
    struct Device {
        uint64_t id;
        std::string productName;
        std::string interfaceName;
        std::shared_ptr<HandlerSlot> slot;
    };
    struct ReceiverEntry {
        uint64_t id;
        uint64_t deviceId;
        Receiver receiver;
    };
    struct Pending {
        uint64_t deviceId;
        std::vector<uint8_t> bytes;
    };

    mutable std::mutex devicesMutex_;
    std::vector<Device> devices_;
    uint64_t nextId_ = 1;

    mutable std::mutex receiversMutex_; // guards receivers_ only
    std::vector<ReceiverEntry> receivers_;
    uint64_t nextReceiverId_ = 1;
    // Held by the delivery thread while receivers run, so closing one can wait
    // for a running call without blocking the list.
    std::mutex dispatchMutex_;

    std::mutex queueMutex_;
    std::condition_variable queueSignal_;
    std::deque<Pending> queue_;
    bool stopping_ = false;
    std::thread deliveryThread_;
};

} // namespace kx5
