// Watches the audio endpoints and tells its delegate when the set changes.
#pragma once

#include <atomic>
#include <memory>

namespace kx5 {

class AudioDeviceDelegate {
  public:
    virtual ~AudioDeviceDelegate() = default;
    // The set of endpoints changed (called on the watcher's thread).
    virtual void audioDevicesChanged() = 0;
};

class AudioDevice {
  public:
    // Starts watching; without a server it keeps retrying quietly and
    // reports a change once one appears.
    AudioDevice();
    ~AudioDevice();
    AudioDevice(const AudioDevice&) = delete;
    AudioDevice& operator=(const AudioDevice&) = delete;

    void setDelegate(AudioDeviceDelegate* delegate) { delegate_ = delegate; }

  private:
    struct Watcher;
    void notify();

    std::atomic<AudioDeviceDelegate*> delegate_{nullptr};
    std::unique_ptr<Watcher> watcher_;
};

} // namespace kx5
