// The shared device objects the modules work on, created and torn down in a
// fixed order by the host (host/native_host.cpp creates them).
#pragma once

#include "bridge/thread.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kx5 {

class JavaScriptInterface;
class UiQueue;
class MIDIClient;
class AudioDevice;
class AudioPlayer;
class AudioRecorder;
class AudioOutputUnit;
class AudioInputUnit;
class TetherDiscovery;
class TetherConnection;
class HTTPConnection;
class NetServiceDiscovery;
class MidixClient;
class SamplerPlayer;
class TcpConnection;
struct AppPaths;

class NativeObjects {
  public:
    NativeObjects(JavaScriptInterface& js, const AppPaths& paths);
    ~NativeObjects();
    NativeObjects(const NativeObjects&) = delete;
    NativeObjects& operator=(const NativeObjects&) = delete;

    JavaScriptInterface& js;
    const AppPaths& paths;
    UiQueue& ui() const;

    std::string clipboardText;
    std::vector<std::string> droppedFiles;

    // Device objects (each owns its delegate link); shared_ptr so that this
    // header need not see the complete types.
    std::shared_ptr<MIDIClient> midiClient;
    std::shared_ptr<AudioDevice> audioDevice;
    std::shared_ptr<AudioPlayer> audioPlayer;
    std::shared_ptr<AudioRecorder> audioRecorder;
    std::shared_ptr<TetherDiscovery> tetherDiscovery;
    std::shared_ptr<TetherConnection> tetherConnection;
    std::shared_ptr<HTTPConnection> httpConnection;
    std::shared_ptr<AudioOutputUnit> audioOutputUnit;
    std::shared_ptr<AudioInputUnit> audioInputUnit;
    // Delegates turning device callbacks into events, in creation order.
    std::vector<std::shared_ptr<void>> delegates;

    std::shared_ptr<NetServiceDiscovery> netService;
    std::vector<std::shared_ptr<MidixClient>> midixClients;
    std::vector<std::unique_ptr<Thread>> workerThreads;
    std::vector<std::shared_ptr<SamplerPlayer>> samplerPlayers;
    std::vector<std::shared_ptr<TcpConnection>> connections;
    std::mutex connectionMutex;
};

} // namespace kx5
