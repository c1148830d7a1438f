// Builds without a picker: the dialog calls answer "v" and show nothing.
#include "modules/fs/file_dialogs.h"

namespace kx5 {

void runFileDialogCall(NativeObjects&, int32_t, const Args&, CallResult&) {}

} // namespace kx5
