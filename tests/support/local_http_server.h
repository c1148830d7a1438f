// A small HTTP/1.1 server on 127.0.0.1 for tests: each connection is served
// by its own thread with the handler registered for the request path.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kx5::test {

class HttpExchange {
  public:
    std::string method;
    std::string target;                         // path with query
    std::map<std::string, std::string> headers; // lower-case names

    // Reads the request body announced by Content-Length.
    std::string readBody();
    // A complete response; without Content-Length the body ends with the
    // connection.
    void respond(int status, const std::string& body, bool withLength = true,
                 const std::string& contentType = {});
    bool send(const std::string& bytes);
    // Waits until the client goes away or the server stops.
    void waitForClose();

    int fd = -1;
    const std::atomic<bool>* stopping = nullptr;
    std::string pending; // body bytes read with the header
};

class LocalHttpServer {
  public:
    using Handler = std::function<void(HttpExchange&)>;
    LocalHttpServer();
    ~LocalHttpServer();
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    // path without query
    void route(const std::string& method, const std::string& path, Handler handler);
    std::string url(const std::string& target) const;
    uint16_t port() const { return port_; }
    // Connections that have ended so far.
    int finishedConnections() const { return finished_; }

  private:
    void acceptLoop();
    void serve(int fd);

    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> finished_{0};
    std::mutex mutex_;
    std::map<std::string, Handler> routes_;
    std::list<std::thread> workers_;
    std::vector<int> open_;
    std::thread acceptor_;
};

} // namespace kx5::test
