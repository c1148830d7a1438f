// Creation of the shared network objects in the registry.
#pragma once

#include <string>
#include <vector>

namespace kx5 {

class NativeObjects;

// TetherDiscovery, TetherConnection and HTTPConnection with their event
// delegates. arguments: the program's options (the Tether discovery target
// option is read there). The host hands the connection's audio streams to
// the player and the recorder.
void createNetDeviceObjects(NativeObjects& objects, const std::vector<std::string>& arguments);

} // namespace kx5
