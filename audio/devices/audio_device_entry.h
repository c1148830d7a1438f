// One active audio endpoint as the page sees it, and the JSON list form.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kx5 {

struct AudioDeviceEntry {
    std::string name;
    std::string uid;
    int32_t sampleRate = 0;
    int32_t channels = 0;
    int32_t bitDepth = 0;
    bool current = false;
};

// [{"AudioDeviceBitDepthKey":16,...},...], members in key order.
std::string writeAudioDeviceList(const std::vector<AudioDeviceEntry>& entries);

} // namespace kx5
