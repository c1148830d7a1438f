#include "bridge/native_objects.h"

#include "bridge/javascript_interface.h"

namespace kx5 {

NativeObjects::NativeObjects(JavaScriptInterface& jsIface, const AppPaths& appPaths)
    : js(jsIface), paths(appPaths) {}

UiQueue& NativeObjects::ui() const {
    return js.ui();
}

NativeObjects::~NativeObjects() {
    midixClients.clear();
    for (auto& t : workerThreads)
        t->join();
    workerThreads.clear();
    samplerPlayers.clear();
    {
        std::lock_guard lock(connectionMutex);
        connections.clear();
    }
    netService.reset();
    httpConnection.reset();
    tetherConnection.reset();
    tetherDiscovery.reset();
    audioRecorder.reset();
    audioPlayer.reset();
    audioDevice.reset();
    midiClient.reset();
    audioInputUnit.reset();
    audioOutputUnit.reset();
    delegates.clear();
}

} // namespace kx5
