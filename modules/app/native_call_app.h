// "app": page lifecycle, event switches, preferences, clipboard, dropped
// files, the control channel's entry and exit.
#pragma once

#include "bridge/native_call.h"

namespace kx5 {

class ControlChannel;

class NativeCall_app final : public NativeCall {
  public:
    // Function ids, in the order of the module's table.
    enum Function : int32_t {
        Ready,
        StartEvent,
        GetEvent,
        Storage,
        Storage2,
        Clipboard,
        ImportFile,
        ExportFile,
        Control,
        Locate,
        DragDrop,
        DropFiles,
        Exit,
    };

    NativeCall_app(NativeObjects* owner, ControlChannel& control);
    std::string name() const override { return "app"; }

  protected:
    void invoke(int32_t id, const Args& args, CallResult& result) override;

  private:
    void storage(const Args& args, CallResult& result);
    void storage2(const Args& args, CallResult& result);

    ControlChannel& control_;
};

// A keyed-storage key names one file in the "pref" folder and nothing else.
bool isPlainFileName(const std::string& key);

} // namespace kx5
