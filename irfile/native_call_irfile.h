// "irfile": every audio file an impulse response may come in. The page
// describes a file, has the host make the file the conversion is given (the
// file itself, or a plain decoded copy, or the two channels mixed), converts
// it for the preview without touching a load, and asks for several files at
// once. See the README for the calls and events.
#pragma once

#include "bridge/native_call.h"

#include <memory>

namespace kx5 {

class PreviewConversions;

class NativeCall_irfile final : public NativeCall {
  public:
    enum Function : int32_t {
        Describe,
        Prepare,
        Preview,
        OpenFiles,
    };

    explicit NativeCall_irfile(NativeObjects* owner);
    // Joins a running preview conversion.
    ~NativeCall_irfile() override;
    std::string name() const override { return "irfile"; }

  protected:
    void invoke(int32_t id, const Args& args, CallResult& result) override;

  private:
    std::unique_ptr<PreviewConversions> previews_;
};

} // namespace kx5
