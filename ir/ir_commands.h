// The "convert" and "wavstat" control commands. One conversion runs at a
// time on a worker thread; the page polls its progress, may cancel it, and
// receives the completion answer once the worker has signalled its end.
#pragma once

#include "ir/conversion_state.h"

#include <picojson.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace kx5 {

class IrCommands {
  public:
    // tempFolder ends in "/" (empty: no file can be written). signalDone is
    // called on the worker thread when it ends and must return only after
    // the completion answer was produced on the UI thread.
    IrCommands(std::string tempFolder, std::function<void()> signalDone);
    // Stops and joins a running worker; the UI queue must no longer run
    // closures by then (the worker's final signal is then not delivered).
    ~IrCommands();
    IrCommands(const IrCommands&) = delete;
    IrCommands& operator=(const IrCommands&) = delete;

    // UI thread. Start ({"path", "ch"}), cancel or poll ({"req"}).
    bool convert(const picojson::object& args, picojson::object& result);
    // UI thread, after signalDone.
    bool convertDone(picojson::object& result);
    bool wavstat(const picojson::object& args, picojson::object& result);

    std::string outputPath() const { return tempFolder_ + kFileName; }
    static constexpr const char* kFileName = "VLM00000.tmp";

  private:
    enum class Result { None, Cancelled, Unusable, Written, WriteFailed };

    bool start(const std::string& path, int channel, picojson::object& result);
    void work();

    std::string tempFolder_;
    std::function<void()> signalDone_;
    std::unique_ptr<ConversionState> state_;
    std::thread worker_;
    bool running_ = false; // a worker's completion is still to come (UI thread)
    std::atomic<bool> shuttingDown_{false};
    std::atomic<Result> result_{Result::None};
};

} // namespace kx5
