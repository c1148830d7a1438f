// The Tether device record the page sees (found, connected...) and hands
// back to connect.
#pragma once

#include <cstdint>
#include <string>

namespace kx5 {

struct TetherDevice {
    std::string address; // dotted IPv4
    int32_t port = 0;
    std::string uid;
    int32_t caps = 0;
    int32_t image = 0;
    int32_t status = 0;
    std::string manufacturer;
    std::string version;
    std::string name;

    bool operator==(const TetherDevice&) const = default;
};

// Compact JSON with the members in key order.
std::string tetherDeviceJson(const TetherDevice& device);
// Reads a record the page passes back. Throws std::runtime_error when the
// text is not an object or a member is missing or of the wrong type;
// numbers are truncated toward zero; other members are ignored.
TetherDevice parseTetherDevice(const std::string& json);

} // namespace kx5
