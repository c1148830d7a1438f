// Calls back when the machine has resumed from suspend (logind's
// PrepareForSleep(false) on the system bus). Without a system bus it stays
// silent.
#pragma once

#include "bridge/glib_handles.h"

#include <functional>

namespace kx5 {

class ResumeWatch {
  public:
    explicit ResumeWatch(std::function<void()> onResume);
    ~ResumeWatch();
    ResumeWatch(const ResumeWatch&) = delete;
    ResumeWatch& operator=(const ResumeWatch&) = delete;

  private:
    static void onBus(void* source, void* result, void* self);
    static void onSignal(GDBusConnection*, const char*, const char*, const char*, const char*,
                         void* parameters, void* self);

    std::function<void()> onResume_;
    glib::Ref<GCancellable> cancellable_;
    glib::Ref<GDBusConnection> bus_;
    unsigned subscription_ = 0;
};

} // namespace kx5
