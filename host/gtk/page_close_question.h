// Before the window closes, the page is asked whether it keeps it open
// (it has unsaved edits): window.$event.closing() answering true means the
// page asks the user itself and closes the window later (app.exit). Any
// other answer, a failed script, or no answer within a few seconds (a hung
// page) lets the window close.
#pragma once

#include "bridge/glib_handles.h"

#include <functional>

typedef struct _WebKitWebView WebKitWebView;

namespace kx5 {

class PageCloseQuestion {
  public:
    explicit PageCloseQuestion(std::function<void()> closeNow);
    // A question still open is dropped; closeNow is not called.
    ~PageCloseQuestion();
    PageCloseQuestion(const PageCloseQuestion&) = delete;
    PageCloseQuestion& operator=(const PageCloseQuestion&) = delete;

    // Asks the page shown in view (none: closes at once). A question asked
    // while one is open waits for that one's answer.
    void ask(WebKitWebView* view);
    void cancel();

  private:
    void answer(bool keepOpen);

    std::function<void()> closeNow_;
    glib::Ref<GCancellable> cancellable_;
    unsigned timeout_ = 0;
};

} // namespace kx5
