// TCP on 127.0.0.1 for test peers.
#pragma once

#include <cstdint>

namespace kx5::test {

// A listening socket on 127.0.0.1 with a port of the system's choosing
// (written to port); -1 when none could be made. The caller closes it.
int listenOnLoopback(int backlog, uint16_t& port);

// A TCP port on 127.0.0.1 that was free a moment ago.
int freeLocalPort();

} // namespace kx5::test
