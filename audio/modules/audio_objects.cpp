#include "audio/modules/audio_objects.h"

#include "audio/modules/audio_event_delegates.h"
#include "audio/units/audio_input_unit.h"
#include "audio/units/audio_output_unit.h"
#include "bridge/native_objects.h"

namespace kx5 {

void createAudioDeviceObjects(NativeObjects& o) {
    o.audioDevice = std::make_shared<AudioDevice>();
    o.audioPlayer = std::make_shared<AudioPlayer>();
    o.audioRecorder = std::make_shared<AudioRecorder>();
}

void createAudioDelegates(NativeObjects& o) {
    auto device = std::make_shared<BridgeAudioDeviceDelegate>(o.js);
    auto player = std::make_shared<BridgeAudioPlayerDelegate>(o.js);
    auto recorder = std::make_shared<BridgeAudioRecorderDelegate>(o.js);
    if (o.audioDevice) o.audioDevice->setDelegate(device.get());
    if (o.audioPlayer) o.audioPlayer->setDelegate(player.get());
    if (o.audioRecorder) o.audioRecorder->setDelegate(recorder.get());
    o.delegates.push_back(device);
    o.delegates.push_back(player);
    o.delegates.push_back(recorder);
}

void createAudioUnits(NativeObjects& o) {
    o.audioOutputUnit = std::make_shared<AudioOutputUnit>();
    o.audioInputUnit = std::make_shared<AudioInputUnit>();
    if (o.audioPlayer) o.audioPlayer->setWaveOutput(o.audioOutputUnit.get());
    if (o.audioRecorder) o.audioRecorder->setWaveInput(o.audioInputUnit.get());
}

} // namespace kx5
