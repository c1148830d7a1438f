#include "tests/support/local_http_server.h"

#include "tests/support/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

namespace kx5::test {

std::string HttpExchange::readBody() {
    auto it = headers.find("content-length");
    const size_t length = it == headers.end() ? 0 : std::stoul(it->second);
    std::string body = pending.substr(0, length);
    char buf[65536];
    while (body.size() < length) {
        const ssize_t n = ::recv(fd, buf, std::min(sizeof buf, length - body.size()), 0);
        if (n <= 0) break;
        body.append(buf, static_cast<size_t>(n));
    }
    return body;
}

bool HttpExchange::send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void HttpExchange::respond(int status, const std::string& body, bool withLength,
                           const std::string& contentType) {
    std::string head = "HTTP/1.1 " + std::to_string(status) + " X\r\nConnection: close\r\n";
    if (withLength) head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    if (!contentType.empty()) head += "Content-Type: " + contentType + "\r\n";
    send(head + "\r\n" + body);
}

void HttpExchange::waitForClose() {
    char buf[4096];
    while (!*stopping) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20) > 0 && ::recv(fd, buf, sizeof buf, MSG_DONTWAIT) <= 0) return;
    }
}

LocalHttpServer::LocalHttpServer() {
    listener_ = listenOnLoopback(16, port_);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

LocalHttpServer::~LocalHttpServer() {
    stopping_ = true;
    acceptor_.join();
    {
        std::lock_guard lock(mutex_);
        for (int fd : open_)
            ::shutdown(fd, SHUT_RDWR);
    }
    for (auto& w : workers_)
        w.join();
    ::close(listener_);
}

void LocalHttpServer::route(const std::string& method, const std::string& path, Handler h) {
    std::lock_guard lock(mutex_);
    routes_[method + " " + path] = std::move(h);
}

std::string LocalHttpServer::url(const std::string& target) const {
    return "http://127.0.0.1:" + std::to_string(port_) + target;
}

void LocalHttpServer::acceptLoop() {
    while (!stopping_) {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard lock(mutex_);
        open_.push_back(fd);
        workers_.emplace_back([this, fd] { serve(fd); });
    }
}

void LocalHttpServer::serve(int fd) {
    HttpExchange ex;
    ex.fd = fd;
    ex.stopping = &stopping_;
    std::string data;
    char buf[4096];
    size_t end;
    while ((end = data.find("\r\n\r\n")) == std::string::npos) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        data.append(buf, static_cast<size_t>(n));
    }
    Handler handler;
    if (end != std::string::npos) {
        ex.pending = data.substr(end + 4);
        const size_t lineEnd = data.find("\r\n");
        const std::string line = data.substr(0, lineEnd);
        const size_t s1 = line.find(' '), s2 = line.rfind(' ');
        ex.method = line.substr(0, s1);
        ex.target = line.substr(s1 + 1, s2 - s1 - 1);
        for (size_t at = lineEnd + 2; at < end;) {
            const size_t next = data.find("\r\n", at);
            const std::string h = data.substr(at, next - at);
            const size_t colon = h.find(':');
            if (colon != std::string::npos) {
                std::string name = h.substr(0, colon);
                std::transform(name.begin(), name.end(), name.begin(),
                               [](unsigned char c) { return std::tolower(c); });
                ex.headers[name] = h.substr(h.find_first_not_of(' ', colon + 1));
            }
            at = next + 2;
        }
        std::lock_guard lock(mutex_);
        auto it = routes_.find(ex.method + " " + ex.target.substr(0, ex.target.find('?')));
        if (it != routes_.end()) handler = it->second;
    }
    if (handler)
        handler(ex);
    else if (end != std::string::npos)
        ex.respond(404, "not here");
    {
        std::lock_guard lock(mutex_);
        open_.erase(std::find(open_.begin(), open_.end(), fd));
        ::close(fd);
    }
    ++finished_;
}

} // namespace kx5::test
