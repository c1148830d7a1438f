#include "sim/sim_options.h"

#include <stdexcept>

namespace kx5::sim {

const char* const kSimUsage =
    "usage: kx5-sim [options]\n"
    "A simulated KX-5 unit on virtual MIDI ports.\n"
    "  --api alsa|jack        MIDI system (default alsa)\n"
    "  --name NAME            client and port name (default \"KX-5 Sim\")\n"
    "  --verbose              print every message received\n"
    "  --dump FILE            write the memory as JSON at exit and on SIGUSR1\n"
    "  --dump-initial FILE    write the power-up memory and exit\n"
    "  --memory FILE          start with the memory of a dump (a unit that kept it)\n"
    "  --map FILE             address-map definition (default: built in)\n"
    "  --device-id HEX        device identifier (default 10)\n"
    "  --level N              communication level answered (default 0)\n"
    "  --running-mode HEX     running mode answered (default 01)\n"
    "  --baud N               input rate in bits/s, 0 unlimited (default 312500)\n"
    "  --input-buffer N       input buffer in bytes (default 4096)\n"
    "Faults:\n"
    "  --no-reply             never answer\n"
    "  --reply-delay MS       answer MS milliseconds late\n"
    "  --wrong-checksum       answer with bad checksums\n"
    "  --wrong-device         answer as another model and device\n"
    "  --identity-only        answer the identity request, nothing else\n"
    "  --drop-dt1 N           lose the Nth DT1 written into the memory (once)\n"
    "SIGHUP: the unit stops taking in and answering anything (its ports stay).\n"
    "SIGUSR2 clears every fault and the reply delay: the unit answers normally.\n";

namespace {

long number(const std::string& option, const std::string& text, int base, long min, long max) {
    size_t used = 0;
    long v = 0;
    try {
        v = std::stol(text, &used, base);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || text.empty() || v < min || v > max)
        throw std::invalid_argument(option + ": bad value \"" + text + "\"");
    return v;
}

} // namespace

std::optional<SimOptions> parseSimOptions(const std::vector<std::string>& args,
                                          std::string& error) {
    SimOptions o;
    try {
        for (size_t i = 0; i < args.size(); ++i) {
            const std::string& a = args[i];
            auto value = [&]() -> const std::string& {
                if (i + 1 >= args.size()) throw std::invalid_argument(a + " needs a value");
                return args[++i];
            };
            if (a == "--help" || a == "-h")
                o.help = true;
            else if (a == "--api") {
                o.api = value();
                if (o.api != "alsa" && o.api != "jack")
                    throw std::invalid_argument("--api: alsa or jack");
            } else if (a == "--name") {
                o.name = value();
                if (o.name.empty()) throw std::invalid_argument("--name: empty");
            } else if (a == "--verbose")
                o.verbose = true;
            else if (a == "--dump")
                o.dumpFile = value();
            else if (a == "--dump-initial")
                o.dumpInitialFile = value();
            else if (a == "--memory")
                o.memoryFile = value();
            else if (a == "--drop-dt1")
                o.unit.dropDt1 = static_cast<size_t>(number(a, value(), 10, 1, 1 << 30));
            else if (a == "--map")
                o.mapFile = value();
            else if (a == "--device-id")
                o.unit.deviceId = static_cast<uint8_t>(number(a, value(), 16, 0, 0x7F));
            else if (a == "--level")
                o.unit.communicationLevel = static_cast<int>(number(a, value(), 10, 0, 127));
            else if (a == "--running-mode")
                o.unit.runningMode = static_cast<uint8_t>(number(a, value(), 16, 0, 0x7F));
            else if (a == "--baud")
                o.unit.inputBitsPerSecond =
                    static_cast<double>(number(a, value(), 10, 0, 100000000));
            else if (a == "--input-buffer")
                o.unit.inputBufferBytes = static_cast<size_t>(number(a, value(), 10, 16, 1 << 20));
            else if (a == "--no-reply")
                o.unit.noReply = true;
            else if (a == "--reply-delay")
                o.replyDelayMs = static_cast<int>(number(a, value(), 10, 0, 600000));
            else if (a == "--wrong-checksum")
                o.unit.wrongChecksum = true;
            else if (a == "--wrong-device")
                o.unit.wrongDevice = true;
            else if (a == "--identity-only")
                o.unit.identityOnly = true;
            else
                throw std::invalid_argument("unknown option " + a);
        }
    } catch (const std::invalid_argument& e) {
        error = e.what();
        return {};
    }
    return o;
}

} // namespace kx5::sim
