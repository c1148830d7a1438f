// "library": the IR library. Folders are added and scanned in the
// background (events "progress", "scanned", "scanfailed"); searches,
// tags and favourites answer at once. See the README for every call.
#pragma once

#include "bridge/native_call.h"

#include <memory>

namespace kx5 {

class IrLibrary;

class NativeCall_library final : public NativeCall {
  public:
    // Function ids, in the order of the module's table.
    enum Function : int32_t {
        Folders,
        AddFolder,
        RemoveFolder,
        Scan,
        Cancel,
        Status,
        Search,
        Entry,
        Skipped,
        Tag,
        Favourite,
    };

    explicit NativeCall_library(NativeObjects* owner);
    // Joins a running scan before the library's files close.
    ~NativeCall_library() override;
    std::string name() const override { return "library"; }

  protected:
    void invoke(int32_t id, const Args& args, CallResult& result) override;

  private:
    std::unique_ptr<IrLibrary> library_;
};

} // namespace kx5
