#include "tests/host/e2e/local_http_server.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kx5::e2e {

LocalHttpServer::LocalHttpServer(std::string html) : html_(std::move(html)) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(fd_, 16);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { serve(); });
}

LocalHttpServer::~LocalHttpServer() {
    stop_ = true;
    thread_.join();
    close(fd_);
}

void LocalHttpServer::serve() {
    while (!stop_) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        const int c = accept(fd_, nullptr, nullptr);
        if (c < 0) continue;
        char buf[4096];
        pollfd q{c, POLLIN, 0};
        if (poll(&q, 1, 2000) > 0) (void)!read(c, buf, sizeof buf);
        const std::string response =
            "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
            std::to_string(html_.size()) + "\r\nConnection: close\r\n\r\n" + html_;
        (void)!write(c, response.data(), response.size());
        close(c);
    }
}

} // namespace kx5::e2e
