#include "host/gtk/bridge_server.h"

#include "bridge/glib_handles.h"
#include "host/gtk/bridge_wire.h"

#include <glib-unix.h>
#include <glib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace kx5 {

struct BridgeServer::Connection {
    int fd = -1;
    unsigned source = 0;
    bool greeted = false;
    wire::FrameReader reader;
    BridgeServer* server = nullptr;
};

namespace {

std::string makePrivateFolder(std::string parent) {
    if (!parent.empty() && parent.back() != '/') parent += '/';
    std::string pattern = parent + "bridge-XXXXXX";
    if (parent.empty() || pattern.size() + 8 >= sizeof(sockaddr_un::sun_path))
        pattern = "/tmp/kx5-bridge-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) return {};
    return std::string(buf.data()) + "/";
}

bool peerIsUs(int fd) {
    ucred cred{};
    socklen_t len = sizeof cred;
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == getuid();
}

} // namespace

BridgeServer::BridgeServer(Handler& handler, const std::string& parentFolder, GMainContext* context)
    : handler_(handler), context_(context ? context : g_main_context_default()) {
    token_ = wire::randomToken();
    folder_ = makePrivateFolder(parentFolder);
    if (folder_.empty() || token_.empty()) return;
    socketPath_ = folder_ + "s";
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, socketPath_.c_str(), socketPath_.size() + 1);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 16) != 0) {
        close(fd);
        return;
    }
    listenFd_ = fd;
    const glib::Source source(g_unix_fd_source_new(fd, G_IO_IN));
    g_source_set_callback(
        source.get(),
        reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)()>(&BridgeServer::onListenReady)),
        this, nullptr);
    listenSource_ = g_source_attach(source.get(), context_);
}

BridgeServer::~BridgeServer() {
    while (!connections_.empty())
        drop(connections_.back().get());
    if (listenSource_) {
        if (GSource* s = g_main_context_find_source_by_id(context_, listenSource_))
            g_source_destroy(s);
    }
    if (listenFd_ >= 0) close(listenFd_);
    if (!socketPath_.empty()) unlink(socketPath_.c_str());
    if (!folder_.empty()) rmdir(folder_.c_str());
}

int BridgeServer::onListenReady(int, unsigned, void* self) {
    static_cast<BridgeServer*>(self)->accept();
    return G_SOURCE_CONTINUE;
}

void BridgeServer::accept() {
    for (;;) {
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        if (!peerIsUs(fd)) {
            close(fd);
            continue;
        }
        auto c = std::make_unique<Connection>();
        c->fd = fd;
        c->server = this;
        const glib::Source source(
            g_unix_fd_source_new(fd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR)));
        g_source_set_callback(source.get(),
                              reinterpret_cast<GSourceFunc>(
                                  reinterpret_cast<void (*)()>(&BridgeServer::onConnectionReady)),
                              c.get(), nullptr);
        c->source = g_source_attach(source.get(), context_);
        connections_.push_back(std::move(c));
    }
}

int BridgeServer::onConnectionReady(int, unsigned, void* data) {
    auto* c = static_cast<Connection*>(data);
    BridgeServer* server = c->server;
    if (server->serve(*c)) return G_SOURCE_CONTINUE;
    // drop() destroys the source; the callback must not touch it afterwards.
    c->source = 0;
    server->drop(c);
    return G_SOURCE_REMOVE;
}

bool BridgeServer::serve(Connection& c) {
    char buf[65536];
    for (;;) {
        const ssize_t n = recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n == 0) return false;
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) break;
            return false;
        }
        c.reader.feed(buf, static_cast<size_t>(n));
        if (static_cast<size_t>(n) < sizeof buf) break;
    }
    while (auto m = c.reader.next()) {
        if (!c.greeted) {
            if (m->type != wire::MessageType::Hello || m->fields.size() != 2 ||
                !wire::tokensEqual(m->fields[0], token_))
                return false;
            c.greeted = true;
            continue;
        }
        switch (m->type) {
        case wire::MessageType::Call: {
            if (m->fields.empty()) return false;
            const std::string name = m->fields[0];
            Args args(m->fields.begin() + 1, m->fields.end());
            const std::string result = handler_.call(name, args);
            if (!wire::writeAll(c.fd, wire::encode(wire::MessageType::Result, {result})))
                return false;
            break;
        }
        case wire::MessageType::Document:
            if (m->fields.size() != 1) return false;
            handler_.documentStarted(m->fields[0]);
            break;
        case wire::MessageType::FrameMessage:
            if (m->fields.size() != 2) return false;
            handler_.frameMessage(m->fields[0], m->fields[1]);
            break;
        default:
            return false;
        }
    }
    return !c.reader.failed();
}

void BridgeServer::drop(Connection* c) {
    auto it = std::find_if(connections_.begin(), connections_.end(),
                           [c](const auto& p) { return p.get() == c; });
    if (it == connections_.end()) return;
    if (c->source) {
        if (GSource* s = g_main_context_find_source_by_id(context_, c->source)) g_source_destroy(s);
    }
    close(c->fd);
    connections_.erase(it);
}

} // namespace kx5
