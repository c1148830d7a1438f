#include "midi/driver_jack.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>
#include <semaphore.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace kx5 {
namespace {

constexpr size_t kRingSize = 1 << 16;
constexpr auto kSendWait = std::chrono::milliseconds(1000);
constexpr auto kConnectWait = std::chrono::seconds(5);
using Header = uint32_t; // size of the message that follows in a ring

void quiet(const char*) {}

struct Ring {
    jack_ringbuffer_t* ring = jack_ringbuffer_create(kRingSize);
    Ring() = default;
    ~Ring() {
        if (ring) jack_ringbuffer_free(ring);
    }
    Ring(const Ring&) = delete;
    Ring& operator=(const Ring&) = delete;
};

} // namespace

// One open input or output: our port and the ring between the process
// callback and the rest of the program.
struct JackPortEntry {
    jack_port_t* port = nullptr;
    std::string peer; // the device's port
    bool input = false;
    Ring ring;
    MidiReceiver receiver; // inputs only
};

// What the process callback works on; replaced as a whole, never changed.
struct JackProcessTable {
    std::vector<JackPortEntry*> inputs;
    std::vector<JackPortEntry*> outputs;
};

class JackSession : public std::enable_shared_from_this<JackSession> {
  public:
    static std::shared_ptr<JackSession> open(const std::string& name) {
        jack_status_t status{};
        jack_client_t* client = jack_client_open(name.c_str(), JackNoStartServer, &status);
        if (!client) return nullptr;
        auto session = std::shared_ptr<JackSession>(new JackSession(client));
        if (!session->start()) return nullptr;
        return session;
    }

    ~JackSession() {
        if (active_) jack_deactivate(client_);
        jack_client_close(client_);
        running_.store(false);
        sem_post(&wake_);
        if (delivery_.joinable()) delivery_.join();
        sem_destroy(&wake_);
    }
    JackSession(const JackSession&) = delete;
    JackSession& operator=(const JackSession&) = delete;

    bool alive() const { return !shutDown_.load(); }

    std::vector<std::string> ports(MidiDirection direction) {
        std::vector<std::string> names;
        if (!alive()) return names;
        const unsigned long flags =
            direction == MidiDirection::Input ? JackPortIsOutput : JackPortIsInput;
        const char** list = jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE, flags);
        if (!list) return names;
        for (const char** p = list; *p; ++p) {
            jack_port_t* port = jack_port_by_name(client_, *p);
            if (port && jack_port_is_mine(client_, port)) continue;
            names.emplace_back(*p);
        }
        jack_free(list);
        return names;
    }

    // Registers a port of ours and connects it to the peer; null on failure.
    std::unique_ptr<JackPortEntry> openPort(const std::string& peer, MidiDirection direction,
                                            MidiReceiver receiver) {
        if (!alive()) return nullptr;
        auto entry = std::make_unique<JackPortEntry>();
        if (!entry->ring.ring) return nullptr;
        const bool input = direction == MidiDirection::Input;
        const std::string ownName =
            (input ? "in-" : "out-") + std::to_string(nextPortNumber_.fetch_add(1));
        entry->port = jack_port_register(client_, ownName.c_str(), JACK_DEFAULT_MIDI_TYPE,
                                         input ? JackPortIsInput : JackPortIsOutput, 0);
        if (!entry->port) return nullptr;
        const char* own = jack_port_name(entry->port);
        const int rc = input ? jack_connect(client_, peer.c_str(), own)
                             : jack_connect(client_, own, peer.c_str());
        // The connection takes effect with a later cycle; until it is seen,
        // messages would go nowhere.
        if ((rc != 0 && rc != EEXIST) || !waitUntilConnected(entry->port, peer)) {
            jack_port_unregister(client_, entry->port);
            return nullptr;
        }
        entry->peer = peer;
        entry->input = input;
        entry->receiver = std::move(receiver);
        if (input) {
            std::lock_guard lock(deliveryMutex_);
            deliveryList_.push_back(entry.get());
        }
        publish(
            [&](JackProcessTable& t) { (input ? t.inputs : t.outputs).push_back(entry.get()); });
        return entry;
    }

    void closePort(std::unique_ptr<JackPortEntry> entry) {
        publish([&](JackProcessTable& t) {
            std::erase(t.inputs, entry.get());
            std::erase(t.outputs, entry.get());
        });
        if (entry->input) {
            // The delivery thread holds this lock while it calls receivers,
            // which may send (thru) and so wait for an output's owner: an
            // output is therefore closed without this lock.
            std::lock_guard lock(deliveryMutex_);
            std::erase(deliveryList_, entry.get());
        }
        jack_port_unregister(client_, entry->port);
    }

    int32_t send(JackPortEntry& entry, const uint8_t* bytes, size_t size) {
        if (!alive()) return MidiErrorNoSystem;
        // The device's port went away (or was restarted) and took the
        // connection with it.
        if (!jack_port_connected_to(entry.port, entry.peer.c_str())) return MidiErrorDeviceGone;
        const size_t needed = sizeof(Header) + size;
        if (needed > kRingSize - 1) return MidiErrorBufferFull;
        const auto deadline = std::chrono::steady_clock::now() + kSendWait;
        while (jack_ringbuffer_write_space(entry.ring.ring) < needed) {
            if (!alive()) return MidiErrorNoSystem;
            if (std::chrono::steady_clock::now() >= deadline) return MidiErrorBufferFull;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const Header header = static_cast<Header>(size);
        jack_ringbuffer_write(entry.ring.ring, reinterpret_cast<const char*>(&header),
                              sizeof header);
        jack_ringbuffer_write(entry.ring.ring, reinterpret_cast<const char*>(bytes), size);
        return MidiOk;
    }

  private:
    explicit JackSession(jack_client_t* client) : client_(client) {
        sem_init(&wake_, 0, 0);
        table_.store(&tables_[0]);
    }

    bool waitUntilConnected(jack_port_t* own, const std::string& peer) {
        const auto deadline = std::chrono::steady_clock::now() + kConnectWait;
        while (!jack_port_connected_to(own, peer.c_str())) {
            if (!alive() || std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    bool start() {
        jack_set_process_callback(client_, &JackSession::processThunk, this);
        jack_on_info_shutdown(client_, &JackSession::shutdownThunk, this);
        delivery_ = std::thread([this] { deliveryLoop(); });
        if (jack_activate(client_) != 0) return false;
        active_ = true;
        return true;
    }

    // Builds the next table from the current one, makes the process callback
    // use it, and waits until no callback still reads the old one.
    template <class Change> void publish(Change change) {
        std::lock_guard lock(publishMutex_);
        JackProcessTable* current = table_.load();
        JackProcessTable* next = current == &tables_[0] ? &tables_[1] : &tables_[0];
        *next = *current;
        change(*next);
        table_.store(next);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (inProcess_.load() && alive() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }

    static int processThunk(jack_nframes_t frames, void* self) {
        static_cast<JackSession*>(self)->process(frames);
        return 0;
    }

    static void shutdownThunk(jack_status_t, const char*, void* self) {
        auto* s = static_cast<JackSession*>(self);
        s->shutDown_.store(true);
        sem_post(&s->wake_);
    }

    // Real-time thread: no locks, no allocation.
    void process(jack_nframes_t frames) {
        inProcess_.store(true);
        const JackProcessTable* table = table_.load();
        bool received = false;
        for (JackPortEntry* e : table->inputs) {
            void* buffer = jack_port_get_buffer(e->port, frames);
            const uint32_t count = jack_midi_get_event_count(buffer);
            for (uint32_t i = 0; i < count; ++i) {
                jack_midi_event_t event;
                if (jack_midi_event_get(&event, buffer, i) != 0 || event.size == 0) continue;
                if (jack_ringbuffer_write_space(e->ring.ring) < sizeof(Header) + event.size)
                    continue; // the program is not keeping up: drop
                const Header header = static_cast<Header>(event.size);
                jack_ringbuffer_write(e->ring.ring, reinterpret_cast<const char*>(&header),
                                      sizeof header);
                jack_ringbuffer_write(e->ring.ring, reinterpret_cast<const char*>(event.buffer),
                                      event.size);
                received = true;
            }
        }
        for (JackPortEntry* e : table->outputs) {
            void* buffer = jack_port_get_buffer(e->port, frames);
            jack_midi_clear_buffer(buffer);
            for (;;) {
                Header header;
                const size_t available = jack_ringbuffer_read_space(e->ring.ring);
                if (available < sizeof header) break;
                jack_ringbuffer_peek(e->ring.ring, reinterpret_cast<char*>(&header), sizeof header);
                if (available < sizeof header + header) break; // still being written
                // What does not fit into this cycle waits for the next one.
                jack_midi_data_t* out = jack_midi_event_reserve(buffer, 0, header);
                if (!out) break;
                jack_ringbuffer_read_advance(e->ring.ring, sizeof header);
                jack_ringbuffer_read(e->ring.ring, reinterpret_cast<char*>(out), header);
            }
        }
        inProcess_.store(false);
        if (received) sem_post(&wake_);
    }

    void deliveryLoop() {
        std::vector<uint8_t> message;
        while (running_.load()) {
            while (sem_wait(&wake_) != 0 && errno == EINTR) {
            }
            std::lock_guard lock(deliveryMutex_);
            for (JackPortEntry* e : deliveryList_) {
                for (;;) {
                    Header header;
                    const size_t available = jack_ringbuffer_read_space(e->ring.ring);
                    if (available < sizeof header) break;
                    jack_ringbuffer_peek(e->ring.ring, reinterpret_cast<char*>(&header),
                                         sizeof header);
                    if (available < sizeof header + header) break;
                    jack_ringbuffer_read_advance(e->ring.ring, sizeof header);
                    message.resize(header);
                    jack_ringbuffer_read(e->ring.ring, reinterpret_cast<char*>(message.data()),
                                         header);
                    if (e->receiver) e->receiver(message.data(), message.size());
                }
            }
        }
    }

    jack_client_t* client_;
    bool active_ = false;
    std::atomic<bool> shutDown_{false};
    std::atomic<bool> running_{true};
    std::atomic<unsigned> nextPortNumber_{1};

    std::mutex publishMutex_;
    JackProcessTable tables_[2];
    std::atomic<JackProcessTable*> table_{nullptr};
    std::atomic<bool> inProcess_{false};

    sem_t wake_;
    std::mutex deliveryMutex_;
    std::vector<JackPortEntry*> deliveryList_;
    std::thread delivery_;
};

namespace {

class JackInput final : public MidiInputStream {
  public:
    JackInput(std::shared_ptr<JackSession> session, std::unique_ptr<JackPortEntry> entry)
        : session_(std::move(session)), entry_(std::move(entry)) {}
    ~JackInput() override { session_->closePort(std::move(entry_)); }

  private:
    std::shared_ptr<JackSession> session_;
    std::unique_ptr<JackPortEntry> entry_;
};

class JackOutput final : public MidiOutputStream {
  public:
    JackOutput(std::shared_ptr<JackSession> session, std::unique_ptr<JackPortEntry> entry)
        : session_(std::move(session)), entry_(std::move(entry)) {}
    ~JackOutput() override { session_->closePort(std::move(entry_)); }
    int32_t sendShort(const uint8_t* bytes, size_t size) override {
        return session_->send(*entry_, bytes, size);
    }
    int32_t sendLong(const uint8_t* bytes, size_t size) override {
        return session_->send(*entry_, bytes, size);
    }

  private:
    std::shared_ptr<JackSession> session_;
    std::unique_ptr<JackPortEntry> entry_;
};

} // namespace

JackMidiDriver::JackMidiDriver(std::string clientName) : clientName_(std::move(clientName)) {
    // libjack prints every failed server connection itself; this driver
    // reports once on its own.
    jack_set_error_function(&quiet);
    jack_set_info_function(&quiet);
}

JackMidiDriver::~JackMidiDriver() = default;

std::shared_ptr<JackSession> JackMidiDriver::session() {
    std::lock_guard lock(mutex_);
    if (session_ && session_->alive()) return session_;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastAttempt_ < std::chrono::seconds(1)) return nullptr;
    lastAttempt_ = now;
    session_ = JackSession::open(clientName_);
    if (!session_ && !reported_) {
        std::fprintf(stderr, "MIDI: no JACK server to connect to; no JACK MIDI devices\n");
        reported_ = true;
    }
    if (session_) reported_ = false;
    return session_;
}

std::optional<std::string> JackMidiDriver::portName(MidiDirection direction, int n) {
    auto s = session();
    if (!s || n < 0) return std::nullopt;
    const auto names = s->ports(direction);
    if (static_cast<size_t>(n) >= names.size()) return std::nullopt;
    return names[static_cast<size_t>(n)];
}

std::string JackMidiDriver::interfaceNameOf(const std::string& portName) {
    std::string text = portName;
    for (size_t open = text.find(" ["); open != std::string::npos; open = text.find(" [", open)) {
        const size_t close = text.find(']', open);
        if (close == std::string::npos) break;
        const bool digits = close > open + 2 &&
                            std::all_of(text.begin() + long(open) + 2, text.begin() + long(close),
                                        [](char c) { return c >= '0' && c <= '9'; });
        if (digits)
            text.erase(open, close - open + 1);
        else
            open = close;
    }
    return "jack:" + text;
}

int JackMidiDriver::count(MidiDirection direction) {
    auto s = session();
    return s ? static_cast<int>(s->ports(direction).size()) : 0;
}

std::string JackMidiDriver::productNameOf(const std::string& portName) {
    const size_t colon = portName.find(':');
    std::string client = portName.substr(0, colon);
    if ((client == "a2j" || client == "Midi-Bridge") && colon != std::string::npos) {
        // Bridges of the ALSA sequencer put the device's name first in the
        // port name: "a2j:KX-5 [24] (capture): KX-5 MIDI 1".
        const std::string port = portName.substr(colon + 1);
        const size_t end = std::min({port.find(" ["), port.find(" ("), port.find(':')});
        const std::string device = port.substr(0, end);
        if (!device.empty()) client = device;
    }
    return cutToUtf16Units(client, 31);
}

std::optional<std::string> JackMidiDriver::productName(MidiDirection direction, int n) {
    const auto name = portName(direction, n);
    if (!name) return std::nullopt;
    return productNameOf(*name);
}

std::string JackMidiDriver::interfaceName(MidiDirection direction, int n) {
    const auto name = portName(direction, n);
    return name ? interfaceNameOf(*name) : std::string();
}

std::unique_ptr<MidiInputStream> JackMidiDriver::openInput(int n, MidiReceiver receiver) {
    const auto name = portName(MidiDirection::Input, n);
    auto s = session();
    if (!name || !s) return nullptr;
    auto entry = s->openPort(*name, MidiDirection::Input, std::move(receiver));
    if (!entry) return nullptr;
    return std::make_unique<JackInput>(s, std::move(entry));
}

std::unique_ptr<MidiOutputStream> JackMidiDriver::openOutput(int n) {
    const auto name = portName(MidiDirection::Output, n);
    auto s = session();
    if (!name || !s) return nullptr;
    auto entry = s->openPort(*name, MidiDirection::Output, {});
    if (!entry) return nullptr;
    return std::make_unique<JackOutput>(s, std::move(entry));
}

} // namespace kx5
