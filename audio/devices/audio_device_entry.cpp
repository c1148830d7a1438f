#include "audio/devices/audio_device_entry.h"

#include <picojson.h>

namespace kx5 {

std::string writeAudioDeviceList(const std::vector<AudioDeviceEntry>& entries) {
    picojson::array list;
    for (const auto& e : entries) {
        picojson::object o;
        o["AudioDeviceNameKey"] = picojson::value(e.name);
        o["AudioDeviceUIDKey"] = picojson::value(e.uid);
        o["AudioDeviceSampleRateKey"] = picojson::value(static_cast<double>(e.sampleRate));
        o["AudioDeviceChannelsKey"] = picojson::value(static_cast<double>(e.channels));
        o["AudioDeviceBitDepthKey"] = picojson::value(static_cast<double>(e.bitDepth));
        o["AudioDeviceCurrentKey"] = picojson::value(e.current);
        list.emplace_back(std::move(o));
    }
    return picojson::value(list).serialize();
}

} // namespace kx5
