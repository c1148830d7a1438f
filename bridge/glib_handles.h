// Owning handles for what GLib hands the program: text to g_free, object
// references, errors, string vectors, sources, main loops and contexts, key
// files. Nothing GLib gives is freed by hand.
#pragma once

#include <gio/gio.h>

#include <memory>

namespace kx5::glib {

template <typename T, auto Release> struct Releaser {
    void operator()(T* p) const {
        if (p) Release(p);
    }
};
template <typename T, auto Release> using Handle = std::unique_ptr<T, Releaser<T, Release>>;

using Text = Handle<char, g_free>;
// One reference of a GObject (or of anything g_object_unref releases).
template <typename T> using Ref = Handle<T, g_object_unref>;
using Error = Handle<GError, g_error_free>;
using Strv = Handle<char*, g_strfreev>;
using Source = Handle<GSource, g_source_unref>;
using MainLoop = Handle<GMainLoop, g_main_loop_unref>;
using MainContext = Handle<GMainContext, g_main_context_unref>;
using KeyFile = Handle<GKeyFile, g_key_file_free>;

} // namespace kx5::glib
