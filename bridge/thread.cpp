#include "bridge/thread.h"

namespace kx5 {

Thread::~Thread() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
    else if (thread_.joinable())
        thread_.detach();
}

void Thread::start() {
    if (autoDelete_) {
        // The object owns itself from here on.
        std::thread([this] {
            run();
            delete this;
        }).detach();
    } else {
        thread_ = std::thread([this] { run(); });
    }
}

void Thread::join() {
    if (thread_.joinable()) thread_.join();
}

} // namespace kx5
