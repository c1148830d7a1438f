// Shared pieces of the security tests: file helpers, the shape of a hex text,
// and the module behind a call table.
#pragma once

#include "bridge/native_call.h"
#include "modules/security/native_call_security.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

#include <string>
#include <vector>

namespace kx5::test {

// True when `text` has the form of `pattern`, where "H" stands for one
// upper-case hex digit and every other character for itself.
bool hasShape(const std::string& text, const std::string& pattern);

class SecurityCalls {
  public:
    explicit SecurityCalls(const std::string& keyFolder);
    // "$$security_<function>" with the given arguments.
    std::string operator()(const std::string& function, Args args = {});

  private:
    NativeCall_security module_;
    ModuleTable table_;
};

} // namespace kx5::test
