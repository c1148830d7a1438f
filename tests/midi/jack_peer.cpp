// A MIDI peer on a JACK server for the tests, built on RtMidi (an independent
// implementation of the JACK side). Usage: jack_peer <name>
// Opens the JACK client <name>-out with the port "out" and the client
// <name>-in with the port "in", prints "ready", then:
//   stdin "send <HEX>"  sends the message on "out";
//   stdin "burst <N> <HEX>"  sends it N times in a row;
//   stdin "quit" or end of input closes both ports and ends;
//   every message arriving on "in" is printed as "recv <HEX>".
#include <rtmidi/RtMidi.h>

#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

namespace {

std::mutex outputMutex;

void printLine(const std::string& line) {
    std::lock_guard lock(outputMutex);
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void received(double, std::vector<unsigned char>* message, void*) {
    static const char* digits = "0123456789ABCDEF";
    std::string hex;
    for (unsigned char b : *message) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    printLine("recv " + hex);
}

std::vector<unsigned char> fromHex(const std::string& hex) {
    std::vector<unsigned char> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: jack_peer <name>\n");
        return 2;
    }
    const std::string name = argv[1];
    try {
        RtMidiIn in(RtMidi::UNIX_JACK, name + "-in");
        RtMidiOut out(RtMidi::UNIX_JACK, name + "-out");
        in.ignoreTypes(false, false, false);
        in.setCallback(&received);
        in.openVirtualPort("in");
        out.openVirtualPort("out");
        printLine("ready");
        std::string line;
        while (std::getline(std::cin, line)) {
            if (line == "quit") break;
            if (line.rfind("burst ", 0) == 0) {
                // "burst N HEX": the message N times, as fast as possible.
                const size_t space = line.find(' ', 6);
                const int count = std::stoi(line.substr(6, space - 6));
                auto bytes = fromHex(line.substr(space + 1));
                for (int i = 0; i < count; ++i)
                    out.sendMessage(&bytes);
                printLine("sent");
            } else if (line.rfind("send ", 0) == 0) {
                auto bytes = fromHex(line.substr(5));
                out.sendMessage(&bytes);
                printLine("sent");
            }
        }
        in.closePort();
        out.closePort();
    } catch (const RtMidiError& e) {
        std::fprintf(stderr, "jack_peer: %s\n", e.getMessage().c_str());
        return 1;
    }
    return 0;
}
