// The built program's bridge console as a child process with a private
// home, driven line by line: page calls, waits for events, raw lines.
#pragma once

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kx5::test {

struct ConsoleOptions {
    // HOME, the XDG data, config, cache and runtime folders and TMPDIR are
    // set below this folder (which must exist); empty: a temporary folder of
    // the console's own.
    std::string home{};
    std::vector<std::string> arguments{}; // after "--console"
    std::vector<std::string> prefix{}; // words run before the program (e.g. "ip netns exec NAME")
    std::map<std::string, std::string> env{}; // further changes (an empty value removes one)
};

class ConsoleProcess {
  public:
    ConsoleProcess(const std::string& executable, const ConsoleOptions& options = {});
    bool started() const { return process_ && process_->started(); }
    // The home folder, with a trailing "/".
    const std::string& home() const { return home_; }
    std::string file(const std::string& name) const { return home_ + name; }

    // A page call; its result text ("" when the console did not answer).
    // Events printed before the result are kept.
    std::string call(const std::vector<std::string>& callAndArgs);
    // Runs the main loop until an event starting with prefix arrives that no
    // earlier wait returned (or a generous limit passes); its fields.
    std::optional<std::vector<std::string>> waitForEvent(const std::string& prefix,
                                                         int limitMs = 20000);
    // The events received so far, then the ones up to and including the next
    // one starting with prefix (fewer when it does not come).
    std::vector<std::string> eventsUntil(const std::string& prefix, int limitMs = 60000);
    // Every event received so far.
    const std::vector<std::string>& events() const { return events_; }
    // Lines the console printed that were not results or events.
    const std::vector<std::string>& strayLines() const { return stray_; }

    // A line as it stands, and the raw output lines.
    bool send(const std::string& line) { return process_->writeLine(line); }
    bool readLine(std::string& line, int timeoutMs = 60000) {
        return process_->readLine(line, timeoutMs);
    }
    // The program itself (to signal it or wait for its end).
    ChildProcess& process() { return *process_; }
    // Ends the input, keeps the events printed on the way out (and every
    // line in rest when given) and answers the exit status.
    std::optional<int> finish(std::vector<std::string>* rest = nullptr);

  private:
    // Reads lines until a result; events on the way are kept.
    std::string readResult();

    std::unique_ptr<TempDir> ownHome_;
    std::string home_;
    std::unique_ptr<ChildProcess> process_;
    std::vector<std::string> events_;
    size_t firstUntaken_ = 0;
    std::vector<bool> taken_;
    std::vector<std::string> stray_;
};

// One run of the console over the given input lines, to the end of its
// output.
struct ConsoleRun {
    std::vector<std::string> lines;
    int exitCode = -1;
};
ConsoleRun runConsole(const std::string& executable, const std::vector<std::string>& input,
                      const ConsoleOptions& options = {});

// The values of a run's {"r":...} / {"e":...} lines, in order.
std::vector<std::string> valuesOf(const ConsoleRun& run, const std::string& key);

// A console call line: ["$$module_function", "arg", ...].
std::string callLine(const std::vector<std::string>& callAndArgs);

} // namespace kx5::test
