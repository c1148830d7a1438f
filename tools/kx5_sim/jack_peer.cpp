#include "tools/kx5_sim/midi_peer.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace kx5::sim {
namespace {

constexpr size_t kRingBytes = 1 << 18;

// Record in a ring buffer: size (uint32), time (double), bytes.
struct RecordHeader {
    uint32_t size;
    double time;
};

class JackPeer final : public MidiPeer {
  public:
    JackPeer(const std::string& name, Receiver receiver) : receiver_(std::move(receiver)) {
        client_ = jack_client_open(name.c_str(), JackNoStartServer, nullptr);
        if (!client_) throw std::runtime_error("JACK: no server to connect to");
        inRing_ = jack_ringbuffer_create(kRingBytes);
        outRing_ = jack_ringbuffer_create(kRingBytes);
        in_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        out_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        if (!in_ || !out_ || !inRing_ || !outRing_) {
            cleanup();
            throw std::runtime_error("JACK: cannot register the MIDI ports");
        }
        rate_ = jack_get_sample_rate(client_);
        jack_set_process_callback(client_, &JackPeer::process, this);
        reader_ = std::thread([this] { readLoop(); });
        if (jack_activate(client_) != 0) {
            stop_ = true;
            reader_.join();
            cleanup();
            throw std::runtime_error("JACK: cannot activate the client");
        }
    }

    ~JackPeer() override {
        jack_deactivate(client_);
        stop_ = true;
        reader_.join();
        cleanup();
    }

    void send(const Bytes& message) override {
        std::lock_guard lock(sendMutex_);
        const RecordHeader h{static_cast<uint32_t>(message.size()), 0};
        if (jack_ringbuffer_write_space(outRing_) < sizeof h + message.size()) return;
        jack_ringbuffer_write(outRing_, reinterpret_cast<const char*>(&h), sizeof h);
        jack_ringbuffer_write(outRing_, reinterpret_cast<const char*>(message.data()),
                              message.size());
    }

  private:
    void cleanup() {
        if (client_) jack_client_close(client_);
        client_ = nullptr;
        if (inRing_) jack_ringbuffer_free(inRing_);
        if (outRing_) jack_ringbuffer_free(outRing_);
        inRing_ = outRing_ = nullptr;
    }

    static int process(jack_nframes_t frames, void* self) {
        static_cast<JackPeer*>(self)->processCycle(frames);
        return 0;
    }

    // Real-time thread: copies input events out and output messages in, one
    // output message per cycle at most when the port buffer is small.
    void processCycle(jack_nframes_t frames) {
        void* inBuffer = jack_port_get_buffer(in_, frames);
        const jack_nframes_t base = jack_last_frame_time(client_);
        const uint32_t count = jack_midi_get_event_count(inBuffer);
        for (uint32_t i = 0; i < count; ++i) {
            jack_midi_event_t e;
            if (jack_midi_event_get(&e, inBuffer, i) != 0) continue;
            const RecordHeader h{static_cast<uint32_t>(e.size),
                                 static_cast<double>(base + e.time) / rate_};
            if (jack_ringbuffer_write_space(inRing_) < sizeof h + e.size) continue;
            jack_ringbuffer_write(inRing_, reinterpret_cast<const char*>(&h), sizeof h);
            jack_ringbuffer_write(inRing_, reinterpret_cast<const char*>(e.buffer), e.size);
        }
        void* outBuffer = jack_port_get_buffer(out_, frames);
        jack_midi_clear_buffer(outBuffer);
        RecordHeader h;
        while (jack_ringbuffer_read_space(outRing_) >= sizeof h) {
            jack_ringbuffer_peek(outRing_, reinterpret_cast<char*>(&h), sizeof h);
            if (jack_ringbuffer_read_space(outRing_) < sizeof h + h.size) break; // still writing
            if (h.size > jack_midi_max_event_size(outBuffer)) {
                if (jack_midi_get_event_count(outBuffer) > 0) break;       // next cycle
                jack_ringbuffer_read_advance(outRing_, sizeof h + h.size); // never fits
                continue;
            }
            jack_midi_data_t* dst = jack_midi_event_reserve(outBuffer, 0, h.size);
            if (!dst) break;
            jack_ringbuffer_read_advance(outRing_, sizeof h);
            jack_ringbuffer_read(outRing_, reinterpret_cast<char*>(dst), h.size);
        }
    }

    void readLoop() {
        Bytes buffer;
        while (!stop_) {
            RecordHeader h;
            const size_t ready = jack_ringbuffer_read_space(inRing_);
            if (ready < sizeof h ||
                (jack_ringbuffer_peek(inRing_, reinterpret_cast<char*>(&h), sizeof h),
                 ready < sizeof h + h.size)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            jack_ringbuffer_read_advance(inRing_, sizeof h);
            buffer.resize(h.size);
            jack_ringbuffer_read(inRing_, reinterpret_cast<char*>(buffer.data()), h.size);
            receiver_(buffer, h.time);
        }
    }

    Receiver receiver_;
    jack_client_t* client_ = nullptr;
    jack_port_t* in_ = nullptr;
    jack_port_t* out_ = nullptr;
    jack_ringbuffer_t* inRing_ = nullptr;
    jack_ringbuffer_t* outRing_ = nullptr;
    double rate_ = 48000;
    std::mutex sendMutex_;
    std::atomic<bool> stop_{false};
    std::thread reader_;
};

} // namespace

std::unique_ptr<MidiPeer> openJackPeer(const std::string& name, MidiPeer::Receiver receiver) {
    return std::make_unique<JackPeer>(name, std::move(receiver));
}

} // namespace kx5::sim
