// The bridge's side of the audio delegates: each turns a device callback into
// a page event.
#pragma once

#include "audio/devices/audio_device.h"
#include "audio/players/audio_player.h"
#include "audio/players/audio_recorder.h"
#include "audio/players/sampler_player.h"

namespace kx5 {

class JavaScriptInterface;

class BridgeAudioDeviceDelegate final : public AudioDeviceDelegate {
  public:
    explicit BridgeAudioDeviceDelegate(JavaScriptInterface& js) : js_(js) {}
    void audioDevicesChanged() override;

  private:
    JavaScriptInterface& js_;
};

class BridgeAudioPlayerDelegate final : public AudioPlayerDelegate {
  public:
    explicit BridgeAudioPlayerDelegate(JavaScriptInterface& js) : js_(js) {}
    void playerEndOfFile(const std::string& path) override;
    void playerStopped(const std::string& path) override;
    void playerError(const std::string& path) override;

  private:
    JavaScriptInterface& js_;
};

class BridgeAudioRecorderDelegate final : public AudioRecorderDelegate {
  public:
    explicit BridgeAudioRecorderDelegate(JavaScriptInterface& js) : js_(js) {}
    void recorderStopped(const std::string& path) override;
    void recorderError(const std::string& path) override;

  private:
    JavaScriptInterface& js_;
};

class BridgeSamplePlayerDelegate final : public SamplePlayerDelegate {
  public:
    explicit BridgeSamplePlayerDelegate(JavaScriptInterface& js) : js_(js) {}
    void samplerEndOfFile(int32_t id, const std::string& path) override;

  private:
    JavaScriptInterface& js_;
};

} // namespace kx5
