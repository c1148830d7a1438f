// Shared pieces of the security tests: a private temporary folder, file
// helpers, running a command-line tool, and the module behind a call table.
#pragma once

#include "bridge/native_call.h"
#include "modules/security/native_call_security.h"

#include <string>
#include <vector>

namespace kx5::test {

class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    // Ends in "/".
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

// True when `text` has the form of `pattern`, where "H" stands for one
// upper-case hex digit and every other character for itself.
bool hasShape(const std::string& text, const std::string& pattern);

// Runs argv[0] (looked up in PATH) with stdin from /dev/null and stdout to
// `stdoutPath` when given; returns the exit status, -1 when it did not exit.
int runTool(const std::vector<std::string>& argv, const std::string& stdoutPath = {});

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
