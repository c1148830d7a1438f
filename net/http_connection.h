// HTTP downloads to files and uploads of files with PUT, one worker thread
// per transfer, reported to a delegate.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace kx5 {

class HTTPConnectionDelegate {
  public:
    virtual ~HTTPConnectionDelegate() = default;
    virtual void completed(uint32_t id, const std::string& file) = 0;
    virtual void progress(uint32_t id, int64_t total, int64_t amount) = 0;
    virtual void error(uint32_t id, const std::string& url) = 0;
};

namespace net {
class HTTPTransfer;
}

class HTTPConnection {
  public:
    // Downloads without a destination go to tempFolder (ends in "/").
    explicit HTTPConnection(std::string tempFolder);
    // Cancels every running transfer and waits for its thread.
    ~HTTPConnection();
    HTTPConnection(const HTTPConnection&) = delete;
    HTTPConnection& operator=(const HTTPConnection&) = delete;

    void setDelegate(HTTPConnectionDelegate* delegate) { delegate_ = delegate; }

    // Transfer ids are unique for the life of the connection.
    uint32_t download(const std::string& url, const std::string& destination);
    uint32_t upload(const std::string& url, const std::string& file);
    // An id that is not running is ignored.
    void cancel(uint32_t id);
    // Transfers whose thread has not finished yet (their events are all
    // posted once they are not counted here).
    size_t runningTransfers();

  private:
    uint32_t takeIdLocked();
    uint32_t startLocked(uint32_t id, std::unique_ptr<net::HTTPTransfer> transfer);
    void reapFinishedLocked();

    const std::string tempFolder_;
    HTTPConnectionDelegate* delegate_ = nullptr;
    std::mutex mutex_;
    std::map<uint32_t, std::unique_ptr<net::HTTPTransfer>> transfers_;
    uint32_t nextId_ = 1;
};

} // namespace kx5
