// Creation of the shared audio objects in the registry, in the three steps
// the host's fixed creation order interleaves with the other devices.
#pragma once

namespace kx5 {

class NativeObjects;

// AudioDevice, AudioPlayer and AudioRecorder.
void createAudioDeviceObjects(NativeObjects& objects);
// Their event delegates, appended to the registry's delegates and attached.
void createAudioDelegates(NativeObjects& objects);
// The wave output and input units, handed to the player and the recorder.
void createAudioUnits(NativeObjects& objects);

} // namespace kx5
