// Serves one fixed HTML page on 127.0.0.1 (a foreign origin for the tests).
#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace kx5::e2e {

class LocalHttpServer {
  public:
    explicit LocalHttpServer(std::string html);
    ~LocalHttpServer();
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

  private:
    void serve();
    std::string html_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace kx5::e2e
