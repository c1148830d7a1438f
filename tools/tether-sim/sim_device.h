// A simulated Tether device: answers discovery, accepts one control
// connection at a time, echoes MIDI, reports its state, and plays the
// device's side of both audio streams. Everything it does is logged as one
// line per event on standard output; commands arrive on standard input.
#pragma once

#include "bridge/unique_fd.h"
#include "net/tether_protocol.h"

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace kx5::tethersim {

struct SimOptions {
    std::string bindAddress = "0.0.0.0";
    uint16_t discoveryPort = net::tether::kDiscoveryPort;
    uint16_t controlPort = 0;
    std::string name = "Tether Sim";
    std::string manufacturer = "Sim Works";
    std::string version = "1.0";
    std::string uidPrefix = "TSIM";
    uint32_t serial = 0x00C0FFEE;
    uint8_t caps = 1;
    uint8_t image = 2;
    uint8_t status = 0;
    int replies = 1;      // replies per discovery datagram
    bool silent = false;  // never says anything on the control connection
    bool realTime = true; // audio moves at 44,100 frames per second
};

// Parses the command line; false (with a message on stderr) on bad options.
bool parseOptions(int argc, char** argv, SimOptions& options);

class SimDevice {
  public:
    explicit SimDevice(SimOptions options);
    // Runs until "quit" or the end of standard input; the exit code.
    int run();

  private:
    struct AudioLink {
        UniqueFd fd;
        bool paused = false;
        uint64_t bytes = 0;
        uint64_t allowanceBase = 0;
        std::chrono::steady_clock::time_point since;
    };

    bool open();
    void answerDiscovery();
    void acceptControl();
    void readControl();
    void closeControl(const char* why);
    bool command(const std::string& line);
    void handle(const net::tether::Message& message);
    void audioCommand(uint8_t sub, const Bytes& payload);
    void startAudio(AudioLink& link, const char* name, uint16_t port);
    void stopAudio(AudioLink& link, const char* name);
    void moveAudio();
    uint64_t allowance(const AudioLink& link) const;
    void sendFrame(uint8_t type, uint8_t sub, const Bytes& payload);
    void sendState();

    SimOptions options_;
    UniqueFd udp_;
    UniqueFd listener_;
    uint16_t controlPort_ = 0;
    UniqueFd control_;
    in_addr host_{};
    net::tether::MessageReader reader_;
    uint32_t midiStamp_ = 0;
    uint8_t volumeOut_ = 100;
    uint8_t volumeIn_ = 90;
    AudioLink out_;
    AudioLink in_;
    uint64_t patternFrame_ = 0;
    std::chrono::steady_clock::time_point nextState_;
};

} // namespace kx5::tethersim
