// Conversions for the preview: what the unit would hold for a file, made by
// the same pipeline as a load but on a state and a coefficient file of their
// own, so that a preview never disturbs (or waits for) a load. One worker;
// a newer request replaces one not yet begun and stops one running.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace kx5 {

class PreviewConversions {
  public:
    struct Result {
        std::string path; // the file converted
        int channel = 0;
        uint64_t request = 0;
        bool ok = false;
        std::string coefficients; // the coefficient file (ok)
        std::string reason;       // why not (not ok)
    };
    // Called on the worker thread.
    using Done = std::function<void(const Result&)>;

    // tempFolder ends in "/".
    PreviewConversions(std::string tempFolder, Done done);
    ~PreviewConversions();
    PreviewConversions(const PreviewConversions&) = delete;
    PreviewConversions& operator=(const PreviewConversions&) = delete;

    // Returns the request's number (results carry it).
    uint64_t request(const std::string& path, int channel);

    // The files the results name: kFiles names used in turn, so that a
    // result's file stays while the page reads it.
    static constexpr int kFiles = 4;

  private:
    struct Job {
        std::string path;
        int channel = 0;
        uint64_t number = 0;
    };
    void run();
    Result convert(const Job& job);

    std::string tempFolder_;
    Done done_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<Job> pending_;
    uint64_t requests_ = 0;
    bool stopping_ = false;
    std::atomic<bool> abandon_{false};
    std::thread worker_;
};

} // namespace kx5
