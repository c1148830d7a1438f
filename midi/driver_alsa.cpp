#include "midi/driver_alsa.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace kx5 {
namespace {

constexpr unsigned kMidiTypes =
    SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_SYNTH | SND_SEQ_PORT_TYPE_APPLICATION;

void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

bool wanted(unsigned caps, unsigned type, MidiDirection direction) {
    if (!(type & kMidiTypes) || (caps & SND_SEQ_PORT_CAP_NO_EXPORT)) return false;
    const unsigned need = direction == MidiDirection::Input
                              ? SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ
                              : SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
    return (caps & need) == need;
}

// Card id and long name through the control interface.
bool cardInfo(int card, std::string& id, std::string& longName) {
    snd_ctl_t* ctl = nullptr;
    const std::string name = "hw:" + std::to_string(card);
    if (snd_ctl_open(&ctl, name.c_str(), 0) < 0) return false;
    snd_ctl_card_info_t* info = nullptr;
    snd_ctl_card_info_alloca(&info);
    const bool ok = snd_ctl_card_info(ctl, info) >= 0;
    if (ok) {
        id = snd_ctl_card_info_get_id(info);
        longName = snd_ctl_card_info_get_longname(info);
    }
    snd_ctl_close(ctl);
    return ok;
}

class AlsaInput final : public MidiInputStream {
  public:
    AlsaInput(AlsaMidiDriver& driver, int ownPort) : driver_(driver), ownPort_(ownPort) {}
    ~AlsaInput() override { driver_.closePort(ownPort_, MidiDirection::Input); }

  private:
    AlsaMidiDriver& driver_;
    int ownPort_;
};

class AlsaOutput final : public MidiOutputStream {
  public:
    AlsaOutput(AlsaMidiDriver& driver, int ownPort, int client, int port)
        : driver_(driver), ownPort_(ownPort), client_(client), port_(port) {
        snd_midi_event_new(16, &encoder_);
    }
    ~AlsaOutput() override {
        driver_.closePort(ownPort_, MidiDirection::Output);
        if (encoder_) snd_midi_event_free(encoder_);
    }
    int32_t sendShort(const uint8_t* bytes, size_t size) override {
        return driver_.sendEvent(ownPort_, client_, port_, bytes, size, encoder_);
    }
    int32_t sendLong(const uint8_t* bytes, size_t size) override {
        return driver_.sendEvent(ownPort_, client_, port_, bytes, size, nullptr);
    }

  private:
    AlsaMidiDriver& driver_;
    int ownPort_;
    int client_;
    int port_;
    snd_midi_event_t* encoder_ = nullptr;
};

} // namespace

AlsaMidiDriver::AlsaMidiDriver(const std::string& clientName) {
    // alsa-lib prints its own failure text; this driver says it once instead.
    snd_lib_error_set_handler(&quietAlsa);
    const int rc = snd_seq_open(&seq_, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
    snd_lib_error_set_handler(nullptr);
    if (rc < 0) {
        seq_ = nullptr;
        std::fprintf(stderr,
                     "MIDI: the ALSA sequencer cannot be opened (%s); no ALSA MIDI devices\n",
                     snd_strerror(rc));
        return;
    }
    snd_seq_set_client_name(seq_, clientName.c_str());
    snd_seq_set_client_pool_output(seq_, 1024);
    ownClient_ = snd_seq_client_id(seq_);
    snd_midi_event_new(1024, &decoder_);
    if (decoder_) snd_midi_event_no_status(decoder_, 1);
    wakeFd_ = eventfd(0, EFD_CLOEXEC);
    inputThread_ = std::thread([this] { inputLoop(); });
}

AlsaMidiDriver::~AlsaMidiDriver() {
    if (!seq_) return;
    const uint64_t one = 1;
    if (write(wakeFd_, &one, sizeof one) < 0) {
    }
    inputThread_.join();
    close(wakeFd_);
    if (decoder_) snd_midi_event_free(decoder_);
    snd_seq_close(seq_);
}

std::vector<AlsaMidiDriver::PortAddress> AlsaMidiDriver::list(MidiDirection direction) {
    std::vector<PortAddress> out;
    if (!seq_) return out;
    snd_seq_client_info_t* client = nullptr;
    snd_seq_port_info_t* port = nullptr;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    std::lock_guard lock(seqMutex_);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(seq_, client) >= 0) {
        const int c = snd_seq_client_info_get_client(client);
        if (c == ownClient_) continue;
        snd_seq_port_info_set_client(port, c);
        snd_seq_port_info_set_port(port, -1);
        while (snd_seq_query_next_port(seq_, port) >= 0) {
            if (!wanted(snd_seq_port_info_get_capability(port), snd_seq_port_info_get_type(port),
                        direction))
                continue;
            out.push_back({c, snd_seq_port_info_get_port(port),
                           snd_seq_client_info_get_name(client), snd_seq_port_info_get_name(port),
                           snd_seq_client_info_get_card(client)});
        }
    }
    return out;
}

std::optional<AlsaMidiDriver::PortAddress> AlsaMidiDriver::address(MidiDirection direction, int n) {
    auto all = list(direction);
    if (n < 0 || static_cast<size_t>(n) >= all.size()) return std::nullopt;
    return all[static_cast<size_t>(n)];
}

int AlsaMidiDriver::count(MidiDirection direction) {
    return static_cast<int>(list(direction).size());
}

std::optional<std::string> AlsaMidiDriver::productName(MidiDirection direction, int n) {
    const auto a = address(direction, n);
    if (!a) return std::nullopt;
    return cutToUtf16Units(a->clientName, 31);
}

std::string AlsaMidiDriver::cardInterfaceName(const std::string& longName, const std::string& id,
                                              int port) {
    std::string location = "card=" + id;
    const size_t at = longName.find(" at usb-");
    if (at != std::string::npos) {
        const size_t start = at + 4;
        const size_t end = longName.find(',', start);
        location = longName.substr(start, end == std::string::npos ? end : end - start);
    }
    return "alsa:" + location + "#" + std::to_string(port);
}

std::string AlsaMidiDriver::interfaceName(MidiDirection direction, int n) {
    const auto a = address(direction, n);
    if (!a) return {};
    std::string id, longName;
    if (a->card >= 0 && cardInfo(a->card, id, longName))
        return cardInterfaceName(longName, id, a->port);
    return "alsa:" + a->clientName + "/" + a->portName;
}

int AlsaMidiDriver::createOwnPort(MidiDirection direction) {
    const bool input = direction == MidiDirection::Input;
    const std::string name = (input ? "in-" : "out-") + std::to_string(nextPortNumber_++);
    const unsigned caps = input ? SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE
                                : SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
    return snd_seq_create_simple_port(
        seq_, name.c_str(), caps, SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
}

std::unique_ptr<MidiInputStream> AlsaMidiDriver::openInput(int n, MidiReceiver receiver) {
    const auto a = address(MidiDirection::Input, n);
    if (!a) return nullptr;
    int own;
    {
        std::lock_guard lock(seqMutex_);
        own = createOwnPort(MidiDirection::Input);
        if (own < 0) return nullptr;
        if (snd_seq_connect_from(seq_, own, a->client, a->port) < 0) {
            snd_seq_delete_simple_port(seq_, own);
            return nullptr;
        }
    }
    {
        std::lock_guard lock(inputsMutex_);
        inputs_[own] = InputState{std::move(receiver), {}};
    }
    return std::make_unique<AlsaInput>(*this, own);
}

std::unique_ptr<MidiOutputStream> AlsaMidiDriver::openOutput(int n) {
    const auto a = address(MidiDirection::Output, n);
    if (!a) return nullptr;
    std::lock_guard lock(seqMutex_);
    const int own = createOwnPort(MidiDirection::Output);
    if (own < 0) return nullptr;
    if (snd_seq_connect_to(seq_, own, a->client, a->port) < 0) {
        snd_seq_delete_simple_port(seq_, own);
        return nullptr;
    }
    return std::make_unique<AlsaOutput>(*this, own, a->client, a->port);
}

void AlsaMidiDriver::closePort(int ownPort, MidiDirection direction) {
    // The input thread holds inputsMutex_ while receivers run, which may send
    // (thru) and so wait for an output's owner: outputs close without it.
    if (direction == MidiDirection::Input) {
        std::lock_guard lock(inputsMutex_);
        inputs_.erase(ownPort);
    }
    std::lock_guard lock(seqMutex_);
    snd_seq_delete_simple_port(seq_, ownPort);
}

int32_t AlsaMidiDriver::sendEvent(int ownPort, int destClient, int destPort, const uint8_t* bytes,
                                  size_t size, snd_midi_event_t* encoder) {
    snd_seq_event_t ev;
    snd_seq_ev_clear(&ev);
    if (encoder) {
        snd_midi_event_reset_encode(encoder);
        if (snd_midi_event_encode(encoder, bytes, static_cast<long>(size), &ev) < 0 ||
            ev.type == SND_SEQ_EVENT_NONE)
            return -EINVAL;
    } else {
        snd_seq_ev_set_sysex(&ev, static_cast<unsigned>(size), const_cast<uint8_t*>(bytes));
    }
    snd_seq_ev_set_source(&ev, ownPort);
    snd_seq_ev_set_subs(&ev);
    snd_seq_ev_set_direct(&ev);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    for (;;) {
        int rc;
        {
            std::lock_guard lock(seqMutex_);
            snd_seq_port_info_t* info = nullptr;
            snd_seq_port_info_alloca(&info);
            if (snd_seq_get_any_port_info(seq_, destClient, destPort, info) < 0)
                return MidiErrorDeviceGone;
            rc = snd_seq_event_output_direct(seq_, &ev);
        }
        if (rc >= 0) return MidiOk;
        if (rc != -EAGAIN || std::chrono::steady_clock::now() >= deadline) return rc;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void AlsaMidiDriver::inputLoop() {
    std::vector<pollfd> fds;
    std::vector<Received> events;
    for (;;) {
        fds.clear();
        fds.push_back({wakeFd_, POLLIN, 0});
        {
            std::lock_guard lock(seqMutex_);
            const int n = snd_seq_poll_descriptors_count(seq_, POLLIN);
            fds.resize(1 + static_cast<size_t>(std::max(n, 0)));
            snd_seq_poll_descriptors(seq_, fds.data() + 1, static_cast<unsigned>(n), POLLIN);
        }
        if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) return;
        if (fds[0].revents & POLLIN) return;

        events.clear();
        {
            std::lock_guard lock(seqMutex_);
            snd_seq_event_t* ev = nullptr;
            while (snd_seq_event_input(seq_, &ev) >= 0 && ev) {
                if (ev->type == SND_SEQ_EVENT_SYSEX) {
                    const auto* p = static_cast<const uint8_t*>(ev->data.ext.ptr);
                    events.push_back({ev->dest.port, true, {p, p + ev->data.ext.len}});
                    continue;
                }
                unsigned char buffer[16];
                const long n =
                    decoder_ ? snd_midi_event_decode(decoder_, buffer, sizeof buffer, ev) : -1;
                if (n > 0) events.push_back({ev->dest.port, false, {buffer, buffer + n}});
            }
        }
        dispatch(events);
    }
}

void AlsaMidiDriver::dispatch(std::vector<Received>& events) {
    std::lock_guard lock(inputsMutex_);
    for (auto& e : events) {
        auto it = inputs_.find(e.ownPort);
        if (it == inputs_.end() || !it->second.receiver) continue;
        InputState& state = it->second;
        if (!e.exclusive) {
            state.receiver(e.bytes.data(), e.bytes.size());
            continue;
        }
        // The sequencer may cut an exclusive message into several events.
        if (!e.bytes.empty() && e.bytes.front() == 0xF0) state.exclusive.clear();
        state.exclusive.insert(state.exclusive.end(), e.bytes.begin(), e.bytes.end());
        if (!state.exclusive.empty() && state.exclusive.back() == 0xF7) {
            state.receiver(state.exclusive.data(), state.exclusive.size());
            state.exclusive.clear();
        } else if (state.exclusive.size() > (1u << 20)) {
            state.exclusive.clear(); // never closed: give up rather than grow
        }
    }
}

} // namespace kx5
