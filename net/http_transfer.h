// One HTTP transfer on its own thread (libcurl). A download is written to a
// private partial file beside its destination and renamed into place only
// when complete, so a failed or cancelled download leaves no file and never
// damages one that was there before.
#pragma once

#include "bridge/thread.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace kx5 {
class HTTPConnectionDelegate;
}

namespace kx5::net {

class HTTPTransfer final : public Thread {
  public:
    enum class Kind { Download, Upload };
    // path: destination of a download (already resolved) or the file to upload.
    HTTPTransfer(Kind kind, uint32_t id, std::string url, std::string path,
                 HTTPConnectionDelegate* delegate);
    ~HTTPTransfer() override;

    // Any thread; the worker notices at once.
    void cancel();
    bool finished() const { return finished_; }

  protected:
    void run() override;

  private:
    bool download();
    bool upload();
    // Runs the prepared easy handle to its end; false when cancelled or failed.
    bool perform(void* easy);

    const Kind kind_;
    const uint32_t id_;
    const std::string url_;
    const std::string path_;
    HTTPConnectionDelegate* const delegate_;
    void* multi_; // CURLM*
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> finished_{false};
};

} // namespace kx5::net
