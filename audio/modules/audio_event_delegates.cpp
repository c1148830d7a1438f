#include "audio/modules/audio_event_delegates.h"

#include "bridge/javascript_interface.h"

namespace kx5 {

void BridgeAudioDeviceDelegate::audioDevicesChanged() {
    js_.postEvent(eventText({"audio", "changed"}));
}

void BridgeAudioPlayerDelegate::playerEndOfFile(const std::string& path) {
    js_.postEvent(eventText({"player", "eof", path}));
}

void BridgeAudioPlayerDelegate::playerStopped(const std::string& path) {
    js_.postEvent(eventText({"player", "stop", path}));
}

void BridgeAudioPlayerDelegate::playerError(const std::string& path) {
    js_.postEvent(eventText({"player", "error", path}));
}

void BridgeAudioRecorderDelegate::recorderStopped(const std::string& path) {
    js_.postEvent(eventText({"recorder", "stop", path}));
}

void BridgeAudioRecorderDelegate::recorderError(const std::string& path) {
    js_.postEvent(eventText({"recorder", "error", path}));
}

void BridgeSamplePlayerDelegate::samplerEndOfFile(int32_t id, const std::string& path) {
    js_.postEvent(eventText({"sampler", "eof", std::to_string(id), path}));
}

} // namespace kx5
