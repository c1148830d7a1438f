#include "modules/fs/volumes.h"

#include "bridge/glib_handles.h"

#include <cerrno>
#include <cstring>

namespace kx5 {
namespace {

// A main context of its own for the duration of one operation, so that the
// operation's callbacks run here and nothing else of the program does.
class PrivateMainContext {
  public:
    PrivateMainContext() : context_(g_main_context_new()) {
        g_main_context_push_thread_default(context_.get());
    }
    ~PrivateMainContext() { g_main_context_pop_thread_default(context_.get()); }
    PrivateMainContext(const PrivateMainContext&) = delete;
    PrivateMainContext& operator=(const PrivateMainContext&) = delete;
    GMainContext* get() const { return context_.get(); }

  private:
    glib::MainContext context_;
};

// Cancels the operation if the system has not answered in time.
class CancelTimer {
  public:
    CancelTimer(GMainContext* context, GCancellable* cancellable, unsigned seconds)
        : source_(g_timeout_source_new_seconds(seconds)) {
        g_source_set_callback(
            source_.get(),
            [](gpointer c) -> gboolean {
                g_cancellable_cancel(G_CANCELLABLE(c));
                return G_SOURCE_REMOVE;
            },
            cancellable, nullptr);
        g_source_attach(source_.get(), context);
    }
    ~CancelTimer() { g_source_destroy(source_.get()); }
    CancelTimer(const CancelTimer&) = delete;
    CancelTimer& operator=(const CancelTimer&) = delete;

  private:
    glib::Source source_;
};

struct Outcome {
    bool done = false;
    bool eject = false;
    std::optional<std::string> failure;
};

void finished(GObject* source, GAsyncResult* result, gpointer data) {
    auto* outcome = static_cast<Outcome*>(data);
    GError* failure = nullptr;
    const gboolean ok =
        outcome->eject ? g_mount_eject_with_operation_finish(G_MOUNT(source), result, &failure)
                       : g_mount_unmount_with_operation_finish(G_MOUNT(source), result, &failure);
    const glib::Error error(failure);
    if (!ok) outcome->failure = error ? error->message : std::strerror(EIO);
    outcome->done = true;
}

constexpr unsigned unmountTimeoutSeconds = 30;

} // namespace

std::optional<std::string> unmountVolume(const std::string& path) {
    if (path.empty()) return std::string(std::strerror(ENOENT));
    glib::Ref<GFile> file(g_file_new_for_path(path.c_str()));
    GError* failure = nullptr;
    // Only mounts the desktop shows as volumes are found here; the root and
    // other fixed file systems are not.
    glib::Ref<GMount> mount(g_file_find_enclosing_mount(file.get(), nullptr, &failure));
    const glib::Error error(failure);
    if (!mount) return std::string(error ? error->message : std::strerror(ENOENT));
    Outcome outcome;
    outcome.eject = g_mount_can_eject(mount.get());
    if (!outcome.eject && !g_mount_can_unmount(mount.get()))
        return std::string("This volume cannot be unmounted");

    PrivateMainContext context;
    glib::Ref<GCancellable> cancellable(g_cancellable_new());
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
