#include "modules/fs/volumes.h"

#include <gio/gio.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace kx5 {
namespace {

template <typename T> struct GObjectUnref {
    void operator()(T* p) const { g_object_unref(p); }
};
template <typename T> using GObjectPtr = std::unique_ptr<T, GObjectUnref<T>>;

// A main context of its own for the duration of one operation, so that the
// operation's callbacks run here and nothing else of the program does.
class PrivateMainContext {
  public:
    PrivateMainContext() : context_(g_main_context_new()) {
        g_main_context_push_thread_default(context_);
    }
    ~PrivateMainContext() {
        g_main_context_pop_thread_default(context_);
        g_main_context_unref(context_);
    }
    PrivateMainContext(const PrivateMainContext&) = delete;
    PrivateMainContext& operator=(const PrivateMainContext&) = delete;
    GMainContext* get() const { return context_; }

  private:
    GMainContext* context_;
};

// Cancels the operation if the system has not answered in time.
class CancelTimer {
  public:
    CancelTimer(GMainContext* context, GCancellable* cancellable, unsigned seconds)
        : source_(g_timeout_source_new_seconds(seconds)) {
        g_source_set_callback(
            source_,
            [](gpointer c) -> gboolean {
                g_cancellable_cancel(G_CANCELLABLE(c));
                return G_SOURCE_REMOVE;
            },
            cancellable, nullptr);
        g_source_attach(source_, context);
    }
    ~CancelTimer() {
        g_source_destroy(source_);
        g_source_unref(source_);
    }
    CancelTimer(const CancelTimer&) = delete;
    CancelTimer& operator=(const CancelTimer&) = delete;

  private:
    GSource* source_;
};

struct Outcome {
    bool done = false;
    bool eject = false;
    std::optional<std::string> failure;
};

void finished(GObject* source, GAsyncResult* result, gpointer data) {
    auto* outcome = static_cast<Outcome*>(data);
    GError* error = nullptr;
    const gboolean ok =
        outcome->eject ? g_mount_eject_with_operation_finish(G_MOUNT(source), result, &error)
                       : g_mount_unmount_with_operation_finish(G_MOUNT(source), result, &error);
    if (!ok) outcome->failure = error ? error->message : std::strerror(EIO);
    g_clear_error(&error);
    outcome->done = true;
}

constexpr unsigned unmountTimeoutSeconds = 30;

} // namespace

std::optional<std::string> unmountVolume(const std::string& path) {
    if (path.empty()) return std::string(std::strerror(ENOENT));
    GObjectPtr<GFile> file(g_file_new_for_path(path.c_str()));
    GError* error = nullptr;
    // Only mounts the desktop shows as volumes are found here; the root and
    // other fixed file systems are not.
    GObjectPtr<GMount> mount(g_file_find_enclosing_mount(file.get(), nullptr, &error));
    if (!mount) {
        std::string reason = error ? error->message : std::strerror(ENOENT);
        g_clear_error(&error);
        return reason;
    }
    Outcome outcome;
    outcome.eject = g_mount_can_eject(mount.get());
    if (!outcome.eject && !g_mount_can_unmount(mount.get()))
        return std::string("This volume cannot be unmounted");

    PrivateMainContext context;
    GObjectPtr<GCancellable> cancellable(g_cancellable_new());
    CancelTimer timer(context.get(), cancellable.get(), unmountTimeoutSeconds);
    if (outcome.eject)
        g_mount_eject_with_operation(mount.get(), G_MOUNT_UNMOUNT_NONE, nullptr, cancellable.get(),
                                     finished, &outcome);
    else
        g_mount_unmount_with_operation(mount.get(), G_MOUNT_UNMOUNT_NONE, nullptr,
                                       cancellable.get(), finished, &outcome);
    while (!outcome.done)
        g_main_context_iteration(context.get(), TRUE);
    return outcome.failure;
}

} // namespace kx5
