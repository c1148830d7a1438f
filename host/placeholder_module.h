// A module whose functions are registered but not built yet: every call
// answers "v", as an unknown function would.
#pragma once

#include "bridge/native_call.h"

namespace kx5 {

class PlaceholderModule final : public NativeCall {
public:
    PlaceholderModule(NativeObjects* owner, std::string name,
                      std::initializer_list<const char*> functions)
        : NativeCall(owner), name_(std::move(name)) {
        addFunctions(functions);
    }
    std::string name() const override { return name_; }

protected:
    void invoke(int32_t, const Args&, CallResult&) override {}

private:
    std::string name_;
};

} // namespace kx5
