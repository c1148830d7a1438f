// Serial ports by device path, through termios.
#pragma once

#include "bridge/unique_fd.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kx5::net {

// The device path an address text names when it is a serial port: a path
// under /dev/ as it is, or "COM<n>" as /dev/ttyS<n-1>. Any other text
// starting with "COM" names no port (empty path); nullopt for texts that
// are not serial at all.
std::optional<std::string> serialDevicePath(const std::string& address);

// Opens the port exclusively for raw byte transfer: no echo, no line
// editing, no character translation; data bits, parity, stop bits and flow
// control stay as the driver reports them. baud 0 keeps the current rate.
// Raises DTR. Empty on failure (errno set).
UniqueFd openSerialPort(const std::string& path, uint32_t baud);

// Drops DTR, discards both queues and lifts the exclusive mark, which
// would otherwise outlive the descriptor (the port stays open).
void releaseSerialPort(int fd);

} // namespace kx5::net
