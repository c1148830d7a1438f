#include "host/gtk/page_close_question.h"

#include <webkit2/webkit2.h>

namespace kx5 {
namespace {

constexpr guint kAnswerWaitMs = 3000;

constexpr const char* kQuestion =
    "(() => { try { const e = window.$event;"
    " return !!e && typeof e.closing === 'function' && e.closing() === true; }"
    " catch (x) { return false; } })()";

} // namespace

PageCloseQuestion::PageCloseQuestion(std::function<void()> closeNow)
    : closeNow_(std::move(closeNow)) {}

PageCloseQuestion::~PageCloseQuestion() {
    cancel();
}

void PageCloseQuestion::cancel() {
    if (cancellable_) {
        g_cancellable_cancel(cancellable_);
        g_object_unref(cancellable_);
        cancellable_ = nullptr;
    }
    if (timeout_) g_source_remove(timeout_);
    timeout_ = 0;
}

void PageCloseQuestion::ask(WebKitWebView* view) {
    if (!view) return closeNow_();
    if (cancellable_) return;
    cancellable_ = g_cancellable_new();
    struct Call {
        PageCloseQuestion* self;
        GCancellable* cancellable;
    };
    // The cancellable tells a late answer (after cancel) from a live one.
    auto* call = new Call{this, G_CANCELLABLE(g_object_ref(cancellable_))};
    webkit_web_view_evaluate_javascript(
        view, kQuestion, -1, nullptr, nullptr, cancellable_,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* c = static_cast<Call*>(data);
            GError* error = nullptr;
            JSCValue* value =
                webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
            const bool live = !g_cancellable_is_cancelled(c->cancellable);
            const bool keep = value && jsc_value_is_boolean(value) && jsc_value_to_boolean(value);
            if (value) g_object_unref(value);
            if (error) g_error_free(error);
            g_object_unref(c->cancellable);
            PageCloseQuestion* self = c->self;
            delete c;
            if (live) self->answer(keep);
        },
        call);
    timeout_ = g_timeout_add(
        kAnswerWaitMs,
        [](gpointer data) -> gboolean {
            auto* self = static_cast<PageCloseQuestion*>(data);
            self->timeout_ = 0;
            self->answer(false);
            return G_SOURCE_REMOVE;
        },
        this);
}

void PageCloseQuestion::answer(bool keepOpen) {
    cancel();
    if (!keepOpen) closeNow_();
}

} // namespace kx5
