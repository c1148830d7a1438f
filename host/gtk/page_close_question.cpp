#include "host/gtk/page_close_question.h"

#include <webkit2/webkit2.h>

#include <memory>

namespace kx5 {
namespace {

constexpr guint kAnswerWaitMs = 3000;

constexpr const char* kQuestion =
    "(() => { try { const e = window.$event;"
    " return !!e && typeof e.closing === 'function' && e.closing() === true; }"
    " catch (x) { return false; } })()";

// One question in flight. Its own reference of the cancellable tells a late
// answer (after cancel) from a live one.
struct PendingAnswer {
    PageCloseQuestion* question;
    glib::Ref<GCancellable> cancellable;
};

} // namespace

PageCloseQuestion::PageCloseQuestion(std::function<void()> closeNow)
    : closeNow_(std::move(closeNow)) {}

PageCloseQuestion::~PageCloseQuestion() {
    cancel();
}

void PageCloseQuestion::cancel() {
    if (cancellable_) {
        g_cancellable_cancel(cancellable_.get());
        cancellable_.reset();
    }
    if (timeout_) g_source_remove(timeout_);
    timeout_ = 0;
}

void PageCloseQuestion::ask(WebKitWebView* view) {
    if (!view) return closeNow_();
    if (cancellable_) return;
    cancellable_.reset(g_cancellable_new());
    auto pending = std::make_unique<PendingAnswer>(PendingAnswer{
        this, glib::Ref<GCancellable>(G_CANCELLABLE(g_object_ref(cancellable_.get())))});
    webkit_web_view_evaluate_javascript(
        view, kQuestion, -1, nullptr, nullptr, cancellable_.get(),
        [](GObject* source, GAsyncResult* result, gpointer data) {
            const std::unique_ptr<PendingAnswer> pending(static_cast<PendingAnswer*>(data));
            GError* failure = nullptr;
            const glib::Ref<JSCValue> value(webkit_web_view_evaluate_javascript_finish(
                WEBKIT_WEB_VIEW(source), result, &failure));
            const glib::Error error(failure);
            const bool keep =
                value && jsc_value_is_boolean(value.get()) && jsc_value_to_boolean(value.get());
            if (!g_cancellable_is_cancelled(pending->cancellable.get()))
                pending->question->answer(keep);
        },
        pending.release());
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
