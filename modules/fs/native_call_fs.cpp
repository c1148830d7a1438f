#include "modules/fs/native_call_fs.h"

#include "bridge/call_arguments.h"
#include "bridge/encoding.h"
#include "bridge/javascript_interface.h"
#include "bridge/native_objects.h"
#include "modules/fs/directory_listing.h"
#include "modules/fs/file_content.h"
#include "modules/fs/file_dialogs.h"
#include "modules/fs/file_operations.h"
#include "modules/fs/known_folders.h"
#include "modules/fs/media_library.h"
#include "modules/fs/volumes.h"
#include "modules/fs/zip_extract.h"

namespace kx5 {
NativeCall_fs::NativeCall_fs(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({{"separator", Separator},
                  {"path", Path},
                  {"volumes", Volumes},
                  {"contents", Contents},
                  {"stat", Stat},
                  {"exec", Exec},
                  {"mkdir", Mkdir},
                  {"unlink", Unlink},
                  {"copy", Copy},
                  {"move", Move},
                  {"unzip", Unzip},
                  {"readString", ReadString},
                  {"readData", ReadData},
                  {"writeString", WriteString},
                  {"writeData", WriteData},
                  {"appendString", AppendString},
                  {"appendData", AppendData},
                  {"openfilename", OpenFileName},
                  {"savefilename", SaveFileName},
                  {"choosefolder", ChooseFolder},
                  {"unmount", Unmount},
                  {"openmediafile", OpenMediaFile},
                  {"importmediafile", ImportMediaFile},
                  {"deletemediafile", DeleteMediaFile},
                  {"mediafileinfo", MediaFileInfo}});
}

void NativeCall_fs::invoke(int32_t id, const Args& args, CallResult& result) {
    NativeObjects& objects = *owner();
    switch (id) {
    case Separator:
        result.setString("/");
        break;
    case Path:
        result.setString(folderForKey(optional(args, 0), objects.paths));
        break;
    case Volumes:
        result.setString(listVolumes());
        break;
    case Contents:
        result.setString(listFolder(required(args, 0), given(args, 1)));
        break;
    case Stat:
        result.setString(statEntry(required(args, 0)));
        break;
    case Exec:
        openWithDefaultApplication(required(args, 0));
        break;
    case Mkdir:
        makeFolders(required(args, 0));
        break;
    case Unlink:
        removePath(required(args, 0));
        break;
    case Copy:
        copyFile(required(args, 0), required(args, 1));
        break;
    case Move:
        movePath(required(args, 0), required(args, 1));
        break;
    case Unzip:
        extractZip(required(args, 0), required(args, 1));
        break;
    case ReadString:
        result.setString(fromUtf8(readFileRange(required(args, 0), ReadRange{})));
        break;
    case ReadData: {
        const std::string& path = required(args, 0);
        const std::string* options = given(args, 1);
        const ReadRange range = options ? parseReadOptions(*options) : ReadRange{};
        result.setString(hexEncode(readFileRange(path, range)));
        break;
    }
    case WriteString:
        replaceFileContent(required(args, 0), toUtf8(required(args, 1)));
        break;
    case WriteData:
        replaceFileContent(required(args, 0), hexDecode(required(args, 1)));
        break;
    case AppendString:
        appendFileContent(required(args, 0), toUtf8(required(args, 1)));
        break;
    case AppendData:
        appendFileContent(required(args, 0), hexDecode(required(args, 1)));
        break;
    case OpenFileName:
    case SaveFileName:
    case ChooseFolder:
    case OpenMediaFile:
        runFileDialogCall(objects, id, args, result);
        break;
    case Unmount: {
        const std::string path = optional(args, 0);
        if (const auto failure = unmountVolume(path))
            objects.js.postEvent(eventText({"fs", "unmountfailed", path, *failure}));
        else
            objects.js.postEvent(eventText({"fs", "unmounted", path}));
        break;
    }
    case ImportMediaFile: {
        const std::string copy =
            importMediaFile(required(args, 0), mediaLibraryFolder(objects.paths));
        objects.js.postEvent(eventText({"fs", "importmediafile", importRecord(copy)}));
        break;
    }
    case DeleteMediaFile:
        result.setString(deleteMediaFile(optional(args, 0), mediaLibraryFolder(objects.paths)));
        break;
    case MediaFileInfo:
        result.setString("");
        break;
    default:
        break;
    }
}

} // namespace kx5
