// The machine's audio endpoints (PulseAudio sinks and sources).
#pragma once

#include "audio/devices/audio_device_entry.h"

#include <string>
#include <vector>

namespace kx5 {

enum class AudioDirection { Capture, Render };

// Endpoints of one direction in the server's order; the server's default is
// marked current. Empty when no server answers or it has no default.
std::vector<AudioDeviceEntry> enumerateAudioDevices(AudioDirection direction);

// What a unit opens for a uid: the uid itself when such an endpoint exists,
// otherwise an empty text, which stands for the default endpoint.
std::string findWaveDevice(AudioDirection direction, const std::string& uid);

} // namespace kx5
