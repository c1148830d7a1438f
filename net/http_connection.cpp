#include "net/http_connection.h"

#include "bridge/app_paths.h"
#include "net/download_name.h"
#include "net/http_transfer.h"

#include <curl/curl.h>
#include <unistd.h>

namespace kx5 {
namespace {

void initCurlOnce() {
    static const bool initialised = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == 0; }();
    (void)initialised;
}

} // namespace

HTTPConnection::HTTPConnection(std::string tempFolder) : tempFolder_(std::move(tempFolder)) {
    initCurlOnce();
}

HTTPConnection::~HTTPConnection() {
    std::lock_guard lock(mutex_);
    for (auto& [id, transfer] : transfers_)
        transfer->cancel();
    transfers_.clear(); // each transfer joins its thread
}

uint32_t HTTPConnection::download(const std::string& url, const std::string& destination) {
    std::lock_guard lock(mutex_);
    const uint32_t id = takeIdLocked();
    std::string path = destination;
    // Without a private temporary folder the download fails (its error
    // event) rather than landing anywhere else.
    if (path.empty() && ensurePrivateFolder(tempFolder_))
        path = net::temporaryDownloadPath(tempFolder_, static_cast<uint32_t>(::getpid()), id, url);
    return startLocked(id, std::make_unique<net::HTTPTransfer>(net::HTTPTransfer::Kind::Download,
                                                               id, url, path, delegate_));
}

uint32_t HTTPConnection::upload(const std::string& url, const std::string& file) {
    std::lock_guard lock(mutex_);
    const uint32_t id = takeIdLocked();
    return startLocked(id, std::make_unique<net::HTTPTransfer>(net::HTTPTransfer::Kind::Upload, id,
                                                               url, file, delegate_));
}

// Ids stay positive 32-bit integers (the page reads them as such) and are
// never those of a transfer still in the table.
uint32_t HTTPConnection::takeIdLocked() {
    reapFinishedLocked();
    for (;;) {
        const uint32_t id = nextId_;
        nextId_ = nextId_ >= INT32_MAX ? 1 : nextId_ + 1;
        if (!transfers_.count(id)) return id;
    }
}

uint32_t HTTPConnection::startLocked(uint32_t id, std::unique_ptr<net::HTTPTransfer> transfer) {
    transfer->start();
    transfers_[id] = std::move(transfer);
    return id;
}

void HTTPConnection::cancel(uint32_t id) {
    std::lock_guard lock(mutex_);
    auto it = transfers_.find(id);
    if (it != transfers_.end()) it->second->cancel();
}

size_t HTTPConnection::runningTransfers() {
    std::lock_guard lock(mutex_);
    size_t running = 0;
    for (const auto& [id, transfer] : transfers_)
        running += transfer->finished() ? 0 : 1;
    return running;
}

void HTTPConnection::reapFinishedLocked() {
    for (auto it = transfers_.begin(); it != transfers_.end();) {
        if (it->second->finished())
            it = transfers_.erase(it);
        else
            ++it;
    }
}

} // namespace kx5
