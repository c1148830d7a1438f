// The window process's end of the page bridge: a private UNIX socket that
// the web process extension connects to. Every message is handled on the
// thread running the GLib main context given (the UI thread in the program),
// so a page call runs there while the page waits for its answer.
#pragma once

#include "bridge/native_call.h"

#include <memory>
#include <string>
#include <vector>

typedef struct _GMainContext GMainContext;

namespace kx5 {

class BridgeServer {
  public:
    class Handler {
      public:
        virtual ~Handler() = default;
        virtual std::string call(const std::string& callName, const Args& args) = 0;
        // The main frame of a page began a new document.
        virtual void documentStarted(const std::string& uri) = 0;
        virtual void frameMessage(const std::string& frameName, const std::string& text) = 0;
    };

    // Creates a private folder (mode 0700) below parentFolder holding the
    // socket; the folder and socket go away with the server.
    BridgeServer(Handler& handler, const std::string& parentFolder,
                 GMainContext* context = nullptr);
    ~BridgeServer();
    BridgeServer(const BridgeServer&) = delete;
    BridgeServer& operator=(const BridgeServer&) = delete;

    bool listening() const { return listenFd_ >= 0; }
    const std::string& socketPath() const { return socketPath_; }
    const std::string& token() const { return token_; }
    size_t connectionCount() const { return connections_.size(); }

  private:
    struct Connection;
    static int onListenReady(int fd, unsigned condition, void* self);
    static int onConnectionReady(int fd, unsigned condition, void* connection);
    void accept();
    // False when the connection has to be closed.
    bool serve(Connection& c);
    void drop(Connection* c);

    Handler& handler_;
    GMainContext* context_;
    std::string folder_;
    std::string socketPath_;
    std::string token_;
    int listenFd_ = -1;
    unsigned listenSource_ = 0;
    std::vector<std::unique_ptr<Connection>> connections_;
};

} // namespace kx5
