// Creation of the shared network objects in the registry.
#pragma once

#include <string>
#include <vector>

namespace kx5 {

class NativeObjects;

// TetherDiscovery, TetherConnection and HTTPConnection with their event
// delegates; the Tether audio streams are offered to the player and the
// recorder (created before) as their network streams. arguments: the
// program's options (the Tether discovery target option is read there).
void createNetDeviceObjects(NativeObjects& objects, const std::vector<std::string>& arguments);

} // namespace kx5
