#include "modules/fs/native_call_fs.h"

#include "modules/fs/file_dialogs.h"

namespace kx5 {

NativeCall_fs::NativeCall_fs(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({"separator",    "path",          "volumes",         "contents",
                  "stat",         "exec",          "mkdir",           "unlink",
                  "copy",         "move",          "unzip",           "readString",
                  "readData",     "writeString",   "writeData",       "appendString",
                  "appendData",   "openfilename",  "savefilename",    "choosefolder",
                  "unmount",      "openmediafile", "importmediafile", "deletemediafile",
                  "mediafileinfo"});
}

void NativeCall_fs::invoke(int32_t id, const Args& args, CallResult& result) {
    switch (id) {
    case OpenFileName:
    case SaveFileName:
    case ChooseFolder:
    case OpenMediaFile:
        runFileDialogCall(*owner(), id, args, result);
        break;
    default:
        break;
    }
}

} // namespace kx5
