// The four "fs" calls that ask the user through a file or folder picker:
// "openfilename", "savefilename", "choosefolder" and "openmediafile". Each
// returns at once; the choice arrives later as an event.
#pragma once

#include "bridge/native_call.h"

#include <cstdint>

namespace kx5 {

class NativeObjects;

void runFileDialogCall(NativeObjects& objects, int32_t functionId, const Args& args,
                       CallResult& result);

} // namespace kx5
