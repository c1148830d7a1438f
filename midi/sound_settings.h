// Opens the system's sound settings: the desktop's own panel when the session
// names a desktop that has one installed, otherwise pavucontrol, otherwise
// any of them that is installed. Does nothing when none is.
#pragma once

namespace kx5 {

// Returns true when a settings program was started.
bool openSoundSettings();

} // namespace kx5
