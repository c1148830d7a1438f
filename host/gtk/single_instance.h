// One running program per user and program name. The first start holds a
// lock file and listens on a socket next to it; a later start hands its
// arguments to the first over that socket and ends. Needs no session bus.
#pragma once

#include <functional>
#include <string>
#include <vector>

typedef struct _GMainContext GMainContext;

namespace kx5 {

class SingleInstance {
  public:
    using Receiver = std::function<void(std::vector<std::string> arguments)>;

    // folder: a private folder of this user and program (ends in "/").
    explicit SingleInstance(std::string folder);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes the lock; true when this is the first instance.
    bool acquire();
    bool primary() const { return lockFd_ >= 0; }

    // First instance: starts accepting hand-overs on the context's thread;
    // the receiver runs there once per later start (possibly with no
    // arguments: the later start only wants the window brought forward).
    bool listen(Receiver receiver, GMainContext* context = nullptr);

    // Later start: gives the arguments to the first instance and waits until
    // it has taken them (retrying while the first one is still starting).
    // False when no first instance answered.
    bool handOver(const std::vector<std::string>& arguments, int waitMs = 5000) const;

  private:
    static int onIncoming(int fd, unsigned condition, void* self);
    void receiveOne();

    std::string folder_;
    std::string socketPath_;
    int lockFd_ = -1;
    int listenFd_ = -1;
    unsigned source_ = 0;
    GMainContext* context_ = nullptr;
    Receiver receiver_;
};

} // namespace kx5
