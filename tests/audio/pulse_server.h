// A private PulseAudio server for one test program: its own runtime folder
// and socket, a null sink as the only (default) output, stopped by PID.
#pragma once

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

#include <memory>
#include <string>

namespace kx5 {
class PulsePlayback;
}

namespace kx5::test {

class PulseServer {
  public:
    static constexpr const char* kSink = "kx5_null";
    static constexpr const char* kMonitor = "kx5_null.monitor";

    // Starts the server and points this process's PULSE_SERVER at it.
    PulseServer();
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    bool running() const { return ready_; }
    const std::string& serverAddress() const { return address_; }
    const std::string& log() const { return logPath_; }

    // Ends the server at once, as a crash would (SIGKILL).
    void kill();

    // Loads another null sink; answers the module index (or -1).
    int loadNullSink(const std::string& name);
    bool unloadModule(int index);

  private:
    TempDir folder_;
    std::string dir_; // the folder without its trailing "/"
    std::string address_;
    std::string logPath_;
    std::unique_ptr<ChildProcess> process_;
    bool ready_ = false;
    // A silent low-latency stream that keeps the null sink rendering in
    // small blocks; an idle null sink sleeps for seconds before it notices
    // a new stream.
    std::unique_ptr<PulsePlayback> keepAlive_;
};

} // namespace kx5::test
