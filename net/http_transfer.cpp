#include "net/http_transfer.h"

#include "bridge/unique_fd.h"
#include "net/http_connection.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

namespace kx5::net {
namespace {

constexpr long kBlockBytes = 65536;
constexpr long kTimeoutMs = 10000;
constexpr const char* kUserAgent = "kx5-editor";

struct EasyDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;

struct SlistDeleter {
    void operator()(curl_slist* s) const { curl_slist_free_all(s); }
};
using Slist = std::unique_ptr<curl_slist, SlistDeleter>;

struct UrlDeleter {
    void operator()(CURLU* u) const { curl_url_cleanup(u); }
};

// Settings both directions share: 10 s to connect, and a transfer that moves
// nothing for 10 s counts as failed.
void commonOptions(CURL* easy, const std::string& url) {
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, kTimeoutMs);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, kTimeoutMs / 1000);
}

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// A partial file in the destination's folder that is removed unless kept.
class PartialFile {
  public:
    explicit PartialFile(const std::string& destination) {
        const size_t slash = destination.rfind('/');
        const size_t baseStart = slash == std::string::npos ? 0 : slash + 1;
        const std::string prefix =
            destination.substr(0, baseStart) + "." + destination.substr(baseStart, 200) + ".part-";
        std::random_device random;
        for (int attempt = 0; attempt < 16 && !fd_; ++attempt) {
            char tag[24];
            std::snprintf(tag, sizeof tag, "%08x", random());
            const std::string candidate = prefix + tag;
            fd_.reset(::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
            if (fd_)
                path_ = candidate;
            else if (errno != EEXIST)
                break;
        }
    }
    ~PartialFile() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    int fd() const { return fd_.get(); }
    bool ok() const { return static_cast<bool>(fd_); }
    bool keepAs(const std::string& destination) {
        const int fd = fd_.release();
        if (::close(fd) != 0 || ::rename(path_.c_str(), destination.c_str()) != 0) return false;
        path_.clear();
        return true;
    }

  private:
    UniqueFd fd_;
    std::string path_;
};

struct DownloadState {
    CURL* easy;
    int fd;
    HTTPConnectionDelegate* delegate;
    uint32_t id;
    const std::atomic<bool>* cancelled;
    int64_t amount = 0;
    bool failed = false;
};

size_t onDownloadData(char* data, size_t, size_t size, void* user) {
    auto& s = *static_cast<DownloadState*>(user);
    long status = 0;
    curl_easy_getinfo(s.easy, CURLINFO_RESPONSE_CODE, &status);
    if (*s.cancelled) return 0;
    if (status != 200 || !writeAll(s.fd, data, size)) {
        s.failed = true;
        return 0;
    }
    curl_off_t length = -1;
    curl_easy_getinfo(s.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    s.amount += static_cast<int64_t>(size);
    if (s.delegate) s.delegate->progress(s.id, length < 0 ? 0 : length, s.amount);
    return size;
}

struct UploadState {
    int fd;
    int64_t size;
    HTTPConnectionDelegate* delegate;
    uint32_t id;
    const std::atomic<bool>* cancelled;
    int64_t amount = 0;
    bool failed = false;
};

size_t onUploadData(char* buffer, size_t, size_t capacity, void* user) {
    auto& s = *static_cast<UploadState*>(user);
    if (*s.cancelled) return CURL_READFUNC_ABORT;
    ssize_t n;
    do {
        n = ::read(s.fd, buffer, std::min<size_t>(capacity, kBlockBytes));
    } while (n < 0 && errno == EINTR);
    if (n < 0 || (n == 0 && s.amount < s.size)) {
        s.failed = true;
        return CURL_READFUNC_ABORT;
    }
    s.amount += n;
    if (n > 0 && s.delegate) s.delegate->progress(s.id, s.size, s.amount);
    return static_cast<size_t>(n);
}

// The server's answer to an upload is not kept (and must not reach stdout).
size_t discard(char*, size_t, size_t size, void*) {
    return size;
}

bool isHttpScheme(const std::string& url) {
    std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
    char* scheme = nullptr;
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK ||
        curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK)
        return false;
    const std::string s = scheme;
    curl_free(scheme);
    return s == "http" || s == "https";
}

} // namespace

HTTPTransfer::HTTPTransfer(Kind kind, uint32_t id, std::string url, std::string path,
                           HTTPConnectionDelegate* delegate)
    : kind_(kind), id_(id), url_(std::move(url)), path_(std::move(path)), delegate_(delegate),
      multi_(curl_multi_init()) {}

HTTPTransfer::~HTTPTransfer() {
    cancel();
    join();
    curl_multi_cleanup(static_cast<CURLM*>(multi_));
}

void HTTPTransfer::cancel() {
    cancelled_ = true;
    if (multi_) curl_multi_wakeup(static_cast<CURLM*>(multi_));
}

void HTTPTransfer::run() {
    const bool ok = kind_ == Kind::Download ? download() : upload();
    if (!ok && !cancelled_ && delegate_) delegate_->error(id_, url_);
    if (!ok) cancelled_ = true;
    finished_ = true;
}

bool HTTPTransfer::perform(void* easyHandle) {
    auto* multi = static_cast<CURLM*>(multi_);
    auto* easy = static_cast<CURL*>(easyHandle);
    if (!multi || curl_multi_add_handle(multi, easy) != CURLM_OK) return false;
    CURLcode result = CURLE_ABORTED_BY_CALLBACK;
    bool done = false;
    while (!done && !cancelled_) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) break;
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
            if (msg->msg == CURLMSG_DONE) {
                result = msg->data.result;
                done = true;
            }
        }
        if (!done && curl_multi_poll(multi, nullptr, 0, 1000, nullptr) != CURLM_OK) break;
    }
    curl_multi_remove_handle(multi, easy);
    return done && !cancelled_ && result == CURLE_OK;
}

bool HTTPTransfer::download() {
    if (path_.empty()) return false;
    PartialFile file(path_);
    Easy easy(curl_easy_init());
    if (!file.ok() || !easy) return false;
    DownloadState state{easy.get(), file.fd(), delegate_, id_, &cancelled_};
    commonOptions(easy.get(), url_);
    curl_easy_setopt(easy.get(), CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy.get(), CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(easy.get(), CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy.get(), CURLOPT_BUFFERSIZE, kBlockBytes);
    curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, onDownloadData);
    curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &state);
    const bool transferred = perform(easy.get());
    long status = 0;
    curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
    if (cancelled_ || !transferred || state.failed || status != 200) return false;
    if (!file.keepAs(path_)) return false;
    if (delegate_) delegate_->completed(id_, path_);
    return true;
}

bool HTTPTransfer::upload() {
    UniqueFd fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (!isHttpScheme(url_)) return false;
    Easy easy(curl_easy_init());
    if (!easy) return false;
    UploadState state{fd.get(), static_cast<int64_t>(st.st_size), delegate_, id_, &cancelled_};
    // The body is sent at once; no 100-continue round trip.
    Slist headers(curl_slist_append(nullptr, "Expect:"));
    commonOptions(easy.get(), url_);
    curl_easy_setopt(easy.get(), CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(easy.get(), CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(st.st_size));
    curl_easy_setopt(easy.get(), CURLOPT_UPLOAD_BUFFERSIZE, kBlockBytes);
    curl_easy_setopt(easy.get(), CURLOPT_READFUNCTION, onUploadData);
    curl_easy_setopt(easy.get(), CURLOPT_READDATA, &state);
    curl_easy_setopt(easy.get(), CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, discard);
    const bool transferred = perform(easy.get());
    long status = 0;
    curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
    if (cancelled_ || !transferred || state.failed || (status != 200 && status != 201))
        return false;
    if (delegate_) delegate_->completed(id_, path_);
    return true;
}

} // namespace kx5::net
