// kx5-sim: the simulated KX-5 unit as a MIDI peer on virtual ALSA or JACK
// ports. Prints "ready" once its ports exist; SIGUSR1 writes the memory dump,
// SIGHUP makes it stop answering, SIGUSR2 clears the faults (and the reply
// delay), SIGINT/SIGTERM end it (writing the dump too).
#include "sim/delayed_sender.h"
#include "sim/kx5_unit.h"
#include "sim/sim_options.h"
#include "tools/kx5_sim/midi_peer.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <unistd.h>

using namespace kx5::sim;

namespace {

std::mutex printMutex;

void print(const std::string& line) {
    std::lock_guard lock(printMutex);
    std::cout << line << std::endl;
}

void writeDump(const Kx5Unit& unit, const std::string& path) {
    if (path.empty()) return;
    std::string error;
    if (unit.dumpToFile(path, &error))
        print("dump " + path);
    else
        std::cerr << "kx5-sim: " << error << "\n";
}

std::string readWhole(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::unique_ptr<AddressMap> loadMap(const std::string& file) {
    if (file.empty()) return std::make_unique<AddressMap>(AddressMap::builtIn());
    return std::make_unique<AddressMap>(AddressMap::parse(readWhole(file)));
}

} // namespace

int main(int argc, char** argv) {
    std::string error;
    const auto options = parseSimOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::cerr << "kx5-sim: " << error << "\n" << kSimUsage;
        return 2;
    }
    if (options->help) {
        std::cout << kSimUsage;
        return 0;
    }
    try {
        const auto map = loadMap(options->mapFile);
        if (!options->dumpInitialFile.empty()) {
            Kx5Unit unit(*map, options->unit, nullptr);
            return unit.dumpToFile(options->dumpInitialFile, &error)
                       ? 0
                       : (std::cerr << error << "\n", 1);
        }

        // Signals are taken by sigwait below; every thread started from here
        // on inherits the block.
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
        sigaddset(&signals, SIGUSR1);
        sigaddset(&signals, SIGUSR2);
        sigaddset(&signals, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &signals, nullptr);

        // The peer exists only after the unit, but the unit's replies go to it.
        std::mutex peerMutex;
        MidiPeer* peerOut = nullptr;
        auto toPeer = [&](const Bytes& m) {
            std::lock_guard lock(peerMutex);
            if (peerOut) peerOut->send(m);
            if (options->verbose) print("tx " + hexText(m));
        };
        std::unique_ptr<DelayedSender> late;
        if (options->replyDelayMs > 0)
            late = std::make_unique<DelayedSender>(std::chrono::milliseconds(options->replyDelayMs),
                                                   toPeer);
        std::atomic<bool> delayed = late != nullptr;
        Kx5Unit unit(*map, options->unit, [&](const Bytes& m) {
            if (delayed)
                late->send(m);
            else
                toPeer(m);
        });
        if (options->verbose) unit.setTrace([](const std::string& line) { print("rx " + line); });
        if (!options->memoryFile.empty()) unit.loadDump(readWhole(options->memoryFile));

        auto receive = [&](const Bytes& bytes, double t) { unit.receive(bytes, t); };
        std::unique_ptr<MidiPeer> peer = options->api == "jack"
                                             ? openJackPeer(options->name, receive)
                                             : openAlsaPeer(options->name, receive);
        {
            std::lock_guard lock(peerMutex);
            peerOut = peer.get();
        }
        print("ready " + options->api + " " + options->name);

        for (;;) {
            int sig = 0;
            if (sigwait(&signals, &sig) != 0) break;
            if (sig == SIGUSR1) {
                writeDump(unit, options->dumpFile);
                continue;
            }
            if (sig == SIGHUP) {
                unit.stopAnswering();
                print("silent");
                continue;
            }
            if (sig == SIGUSR2) {
                unit.clearFaults();
                delayed = false;
                print("faults cleared");
                continue;
            }
            break;
        }
        {
            std::lock_guard lock(peerMutex);
            peerOut = nullptr;
        }
        // The dump first: leaving a wedged MIDI server can hang, and then
        // the alarm ends the program.
        writeDump(unit, options->dumpFile);
        alarm(5);
        peer.reset();
        late.reset();
        const UnitStats s = unit.stats();
        print("stats messages " + std::to_string(s.messages) + " overruns " +
              std::to_string(s.overruns) + " bad-checksums " + std::to_string(s.badChecksums) +
              " replies " + std::to_string(s.replies));
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "kx5-sim: " << e.what() << "\n";
        return 1;
    }
}
