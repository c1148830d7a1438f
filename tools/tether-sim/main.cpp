// tether-sim: a stand-in Tether device for development and tests.
#include "tools/tether-sim/sim_device.h"

#include <csignal>

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    kx5::tethersim::SimOptions options;
    if (!kx5::tethersim::parseOptions(argc, argv, options)) return 2;
    return kx5::tethersim::SimDevice(options).run();
}
