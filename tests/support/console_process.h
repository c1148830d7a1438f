// The program's bridge console as a child process, with a private home.
#pragma once

#include "tests/net/support/child_process.h"
#include "tests/net/support/temp_dir.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kx5::test {

class ConsoleProcess {
  public:
    // prefix: words run before the program (e.g. "ip netns exec NAME");
    // environment: extra "NAME=value" entries.
    explicit ConsoleProcess(const std::vector<std::string>& options = {},
                            const std::vector<std::string>& prefix = {},
                            const std::vector<std::string>& environment = {});
    bool started() const { return process_ && process_->started(); }
    const TempDir& home() const { return home_; }

    // A page call; its result text (empty when the console did not answer).
    std::string call(const std::vector<std::string>& callAndArgs);
    // Runs the main loop until an event starting with prefix arrives (or a
    // generous limit passes); its fields.
    std::optional<std::vector<std::string>> waitForEvent(const std::string& prefix,
                                                         int limitMs = 20000);
    // Every event received so far.
    const std::vector<std::string>& events() const { return events_; }
    // Ends the console as end of input does; its exit status.
    std::optional<int> finish();
    // Lines the console printed that were not JSON results or events.
    const std::vector<std::string>& strayLines() const { return stray_; }

  private:
    // Reads lines until a result; events on the way are kept.
    std::string readResult();

    TempDir home_;
    std::unique_ptr<ChildProcess> process_;
    std::vector<std::string> events_;
    std::vector<bool> taken_;
    std::vector<std::string> stray_;
};

} // namespace kx5::test
