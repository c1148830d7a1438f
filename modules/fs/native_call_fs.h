// "fs": folders, volumes, listings, file contents, file operations, the media
// library and the file dialogs.
#pragma once

#include "bridge/native_call.h"

namespace kx5 {

class NativeCall_fs final : public NativeCall {
  public:
    // Function ids, in the order of the module's table.
    enum Function : int32_t {
        Separator,
        Path,
        Volumes,
        Contents,
        Stat,
        Exec,
        Mkdir,
        Unlink,
        Copy,
        Move,
        Unzip,
        ReadString,
        ReadData,
        WriteString,
        WriteData,
        AppendString,
        AppendData,
        OpenFileName,
        SaveFileName,
        ChooseFolder,
        Unmount,
        OpenMediaFile,
        ImportMediaFile,
        DeleteMediaFile,
        MediaFileInfo,
    };

    explicit NativeCall_fs(NativeObjects* owner);
    std::string name() const override { return "fs"; }

  protected:
    void invoke(int32_t id, const Args& args, CallResult& result) override;
};

} // namespace kx5
