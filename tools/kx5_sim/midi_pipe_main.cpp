// kx5-midi-pipe: virtual MIDI ports driven through standard input/output,
// for scripts and tests that speak MIDI without a MIDI library.
//   stdin:  one message per line as hex digits ("F07E7F0601F7")
//   stdout: "ready", then one line per received message: hex, space, time
//           in milliseconds
// Ends at the end of its input or on SIGTERM/SIGINT.
#include "tools/kx5_sim/midi_peer.h"

#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>

using namespace kx5::sim;

int main(int argc, char** argv) {
    std::string api = "alsa", name = "KX-5 Pipe";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        if (key == "--api")
            api = argv[i + 1];
        else if (key == "--name")
            name = argv[i + 1];
        else {
            std::cerr << "usage: kx5-midi-pipe [--api alsa|jack] [--name NAME]\n";
            return 2;
        }
    }
    if (argc % 2 == 0 || (api != "alsa" && api != "jack")) {
        std::cerr << "usage: kx5-midi-pipe [--api alsa|jack] [--name NAME]\n";
        return 2;
    }
    std::mutex outMutex;
    auto print = [&](const std::string& line) {
        std::lock_guard lock(outMutex);
        std::fputs((line + "\n").c_str(), stdout);
        std::fflush(stdout);
    };
    try {
        auto receive = [&](const Bytes& b, double t) {
            print(hexText(b) + " " + std::to_string(static_cast<long long>(t * 1000)));
        };
        auto peer = api == "jack" ? openJackPeer(name, receive) : openAlsaPeer(name, receive);
        print("ready");
        std::string line;
        while (std::getline(std::cin, line)) {
            while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
                line.pop_back();
            if (line.empty()) continue;
            const auto bytes = parseHex(line);
            if (!bytes) {
                std::cerr << "kx5-midi-pipe: not hex: " << line << "\n";
                continue;
            }
            peer->send(*bytes);
        }
    } catch (const std::exception& e) {
        std::cerr << "kx5-midi-pipe: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
