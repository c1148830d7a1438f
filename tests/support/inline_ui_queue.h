// A UiQueue for tests without a main loop: every closure runs at once on the
// calling thread.
#pragma once

#include "bridge/ui_queue.h"

namespace kx5::test {

class InlineUiQueue final : public UiQueue {
  public:
    bool post(Closure closure) override {
        closure();
        return true;
    }
    void send(Closure closure) override { closure(); }
    bool isUiThread() const override { return true; }
};

} // namespace kx5::test
