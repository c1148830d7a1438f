#include "host/gtk/single_instance.h"

#include "bridge/glib_handles.h"
#include "host/gtk/bridge_wire.h"

#include <glib-unix.h>
#include <glib.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace kx5 {
namespace {

bool fillAddress(const std::string& path, sockaddr_un& addr) {
    if (path.size() >= sizeof addr.sun_path) return false;
    addr = {};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

void setTimeouts(int fd, int ms) {
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

} // namespace

SingleInstance::SingleInstance(std::string folder) : folder_(std::move(folder)) {
    if (!folder_.empty() && folder_.back() != '/') folder_ += '/';
    socketPath_ = folder_ + "instance.sock";
}

SingleInstance::~SingleInstance() {
    if (source_) {
        if (GSource* s = g_main_context_find_source_by_id(context_, source_)) g_source_destroy(s);
    }
    if (listenFd_ >= 0) {
        close(listenFd_);
        unlink(socketPath_.c_str());
    }
    if (lockFd_ >= 0) close(lockFd_);
}

bool SingleInstance::acquire() {
    if (lockFd_ >= 0) return true;
    if (folder_.empty()) return false;
    const int fd =
        open((folder_ + "instance.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return false;
    }
    lockFd_ = fd;
    return true;
}

bool SingleInstance::listen(Receiver receiver, GMainContext* context) {
    if (lockFd_ < 0 || listenFd_ >= 0) return false;
    sockaddr_un addr;
    if (!fillAddress(socketPath_, addr)) return false;
    // We hold the lock: a socket file left here is from an instance that died.
    unlink(socketPath_.c_str());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0) {
        close(fd);
        return false;
    }
    listenFd_ = fd;
    receiver_ = std::move(receiver);
    context_ = context ? context : g_main_context_default();
    const glib::Source source(g_unix_fd_source_new(fd, G_IO_IN));
    g_source_set_callback(
        source.get(),
        reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)()>(&SingleInstance::onIncoming)),
        this, nullptr);
    source_ = g_source_attach(source.get(), context_);
    return true;
}

int SingleInstance::onIncoming(int, unsigned, void* self) {
    static_cast<SingleInstance*>(self)->receiveOne();
    return G_SOURCE_CONTINUE;
}

void SingleInstance::receiveOne() {
    for (;;) {
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        ucred cred{};
        socklen_t len = sizeof cred;
        wire::Message m;
        // A peer that stalls must not hold the window up for long.
        setTimeouts(fd, 2000);
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == getuid() &&
            wire::readMessage(fd, m) && m.type == wire::MessageType::Arguments) {
            // The later start ends once its arguments are queued here.
            if (receiver_) receiver_(std::move(m.fields));
            wire::writeAll(fd, wire::encode(wire::MessageType::Result, {"ok"}));
        }
        close(fd);
    }
}

bool SingleInstance::handOver(const std::vector<std::string>& arguments, int waitMs) const {
    sockaddr_un addr;
    if (!fillAddress(socketPath_, addr)) return false;
    std::vector<std::string_view> views(arguments.begin(), arguments.end());
    const std::string frame = wire::encode(wire::MessageType::Arguments, views);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
            setTimeouts(fd, waitMs);
            wire::Message reply;
            const bool ok = wire::writeAll(fd, frame) && wire::readMessage(fd, reply) &&
                            reply.type == wire::MessageType::Result;
            close(fd);
            return ok;
        }
        close(fd);
        // The first instance may hold the lock but not listen yet.
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

} // namespace kx5
