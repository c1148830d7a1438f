#include "host/gtk/resume_watch.h"

namespace kx5 {

ResumeWatch::ResumeWatch(std::function<void()> onResume)
    : onResume_(std::move(onResume)), cancellable_(g_cancellable_new()) {
    // Asynchronous: a slow or missing system bus never delays the window.
    g_bus_get(
        G_BUS_TYPE_SYSTEM, cancellable_.get(),
        reinterpret_cast<GAsyncReadyCallback>(reinterpret_cast<void (*)()>(&ResumeWatch::onBus)),
        this);
}

ResumeWatch::~ResumeWatch() {
    g_cancellable_cancel(cancellable_.get());
    if (bus_ && subscription_) g_dbus_connection_signal_unsubscribe(bus_.get(), subscription_);
}

// After cancellation the callback still runs once, with an error: self is
// then gone and must not be touched.
void ResumeWatch::onBus(void*, void* result, void* data) {
    GError* failure = nullptr;
    glib::Ref<GDBusConnection> bus(g_bus_get_finish(static_cast<GAsyncResult*>(result), &failure));
    const glib::Error error(failure);
    if (!bus) return;
    auto* self = static_cast<ResumeWatch*>(data);
    self->bus_ = std::move(bus);
    self->subscription_ = g_dbus_connection_signal_subscribe(
        self->bus_.get(), "org.freedesktop.login1", "org.freedesktop.login1.Manager",
        "PrepareForSleep", "/org/freedesktop/login1", nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        reinterpret_cast<GDBusSignalCallback>(reinterpret_cast<void (*)()>(&ResumeWatch::onSignal)),
        self, nullptr);
}

void ResumeWatch::onSignal(GDBusConnection*, const char*, const char*, const char*, const char*,
                           void* parameters, void* data) {
    auto* params = static_cast<GVariant*>(parameters);
    if (!g_variant_is_of_type(params, G_VARIANT_TYPE("(b)"))) return;
    gboolean sleeping = TRUE;
    g_variant_get(params, "(b)", &sleeping);
    auto* self = static_cast<ResumeWatch*>(data);
    if (!sleeping && self->onResume_) self->onResume_();
}

} // namespace kx5
