#include "host/gtk/web_view_host.h"

#include "bridge/ui_queue.h"
#include "host/gtk/document_policy.h"
#include "host/gtk/event_script.h"

#include <webkit2/webkit2.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace kx5 {
namespace {

constexpr const char* kUserAgentSuffix = " velmar.lattice(Linux)";

bool startsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

std::string uriOf(WebKitNavigationPolicyDecision* decision) {
    WebKitNavigationAction* action =
        webkit_navigation_policy_decision_get_navigation_action(decision);
    WebKitURIRequest* request = action ? webkit_navigation_action_get_request(action) : nullptr;
    const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
    return uri ? uri : "";
}

} // namespace

// Signal trampolines; they reach the host's private handlers.
struct WebViewSignals {
    static void initializeExtensions(WebKitWebContext* context, WebViewHost* self) {
        GVariant* data =
            g_variant_new("(sss)", self->server_ ? self->server_->socketPath().c_str() : "",
                          self->server_ ? self->server_->token().c_str() : "",
                          self->options_.bundleFolder.c_str());
        webkit_web_context_set_web_extensions_initialization_user_data(context, data);
    }

    static void downloadStarted(WebKitWebContext*, WebKitDownload* download, WebViewHost* self) {
        WebKitURIRequest* request = webkit_download_get_request(download);
        const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
        webkit_download_cancel(download);
        self->postEvent(eventText({"app", "command", "download", uri ? uri : ""}));
    }

    static WebKitWebView* automationWantsView(WebKitAutomationSession*, WebViewHost* self) {
        if (!self->view_ || self->viewHandedToAutomation_) return nullptr;
        self->viewHandedToAutomation_ = true;
        return self->view_.get();
    }

    // Each session (a test may start another one) drives the one view.
    static void automationStarted(WebKitWebContext*, WebKitAutomationSession* session,
                                  WebViewHost* self) {
        self->viewHandedToAutomation_ = false;
        WebKitApplicationInfo* info = webkit_application_info_new();
        webkit_application_info_set_name(info, self->appName.c_str());
        webkit_automation_session_set_application_info(session, info);
        webkit_application_info_unref(info);
        g_signal_connect(session, "create-web-view", G_CALLBACK(automationWantsView), self);
    }

    static gboolean decidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                 WebKitPolicyDecisionType type, WebViewHost* self) {
        switch (type) {
        case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION:
            self->openNewWindowRequest(uriOf(WEBKIT_NAVIGATION_POLICY_DECISION(decision)));
            webkit_policy_decision_ignore(decision);
            return TRUE;
        case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION:
            if (!self->takeDropNavigation(uriOf(WEBKIT_NAVIGATION_POLICY_DECISION(decision))))
                return FALSE;
            webkit_policy_decision_ignore(decision);
            return TRUE;
        default:
            return FALSE;
        }
    }

    // window.open() arrives here without a policy decision.
    static GtkWidget* createRequested(WebKitWebView*, WebKitNavigationAction* action,
                                      WebViewHost* self) {
        WebKitURIRequest* request = webkit_navigation_action_get_request(action);
        const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
        self->openNewWindowRequest(uri ? uri : "");
        return nullptr;
    }

    static gboolean permissionRequested(WebKitWebView* view, WebKitPermissionRequest* request,
                                        WebViewHost* self) {
        // Only the program's own pages are trusted with devices and the like.
        const char* uri = webkit_web_view_get_uri(view);
        if (uri && isDocumentInFolder(uri, self->options_.bundleFolder))
            webkit_permission_request_allow(request);
        else
            webkit_permission_request_deny(request);
        return TRUE;
    }

    static gboolean contextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*,
                                WebViewHost* self) {
        return self->options_.developerTools ? FALSE : TRUE;
    }

    static void titleChanged(WebKitWebView* view, GParamSpec*, WebViewHost* self) {
        const char* title = webkit_web_view_get_title(view);
        if (self->onTitleChanged) self->onTitleChanged(title ? title : "");
    }

    static void webProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason,
                                     WebViewHost* self) {
        if (reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API) return;
        // The next document has to switch delivery on again.
        self->clearPush();
        const char* message = reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT
                                  ? "The page used too much memory and was stopped."
                                  : "The page stopped unexpectedly.";
        std::fprintf(stderr, "%s: %s\n", self->appName.c_str(), message);
        if (self->onPageCrashed) self->onPageCrashed(message);
    }

    static void loadChanged(WebKitWebView*, WebKitLoadEvent event, WebViewHost* self) {
        if (event == WEBKIT_LOAD_COMMITTED && self->onPageShown) self->onPageShown();
    }

    // WebKit asks for the dragged data as the drag enters, before any drop.
    static void dragDataReceived(GtkWidget*, GdkDragContext*, int, int, GtkSelectionData* data,
                                 unsigned, unsigned, WebViewHost* self) {
        if (!data) return;
        const glib::Text target(gdk_atom_name(gtk_selection_data_get_target(data)));
        if (!target || std::strcmp(target.get(), "text/uri-list") != 0) return;
        const glib::Strv uris(gtk_selection_data_get_uris(data));
        self->recordDraggedUris(uris.get());
    }

    // Runs before WebKit's own drop handling.
    static gboolean dragDrop(GtkWidget*, GdkDragContext*, int, int, unsigned, WebViewHost* self) {
        self->dropTime_ = g_get_monotonic_time();
        return FALSE;
    }
};

WebViewHost::WebViewHost(UiQueue& ui, const AppPaths& paths, const HostOptions& hostOptions,
                         WebViewOptions options)
    : JavaScriptInterface(ui), options_(std::move(options)), closeQuestion_([this] {
          if (onCloseAllowed) onCloseAllowed();
      }) {
    appName = paths.appName;
    startUrl = options_.startUrl;
    native_ = std::make_unique<NativeHost>(*this, paths, hostOptions);
    BridgeServer::Handler& handler = *this;
    server_ = std::make_unique<BridgeServer>(handler, paths.tempFolder);
    createContext(paths);
    createView();
    connectSignals();
}

WebViewHost::~WebViewHost() {
    detachView();
    server_.reset();
    shutdownModules();
    context_.reset();
}

void WebViewHost::shutdownModules() {
    // No page call may reach a module while they are torn down.
    server_.reset();
    native_.reset();
}

void WebViewHost::createContext(const AppPaths& paths) {
    const std::string data = paths.dataFolder + "webview";
    const std::string cache = paths.dataFolder + "webview-cache";
    const glib::Ref<WebKitWebsiteDataManager> manager(webkit_website_data_manager_new(
        "base-data-directory", data.c_str(), "base-cache-directory", cache.c_str(), nullptr));
    context_.reset(webkit_web_context_new_with_website_data_manager(manager.get()));
    WebKitWebContext* context = context_.get();
    webkit_web_context_set_web_extensions_directory(context, options_.extensionFolder.c_str());
    g_signal_connect(context, "initialize-web-extensions",
                     G_CALLBACK(WebViewSignals::initializeExtensions), this);
    g_signal_connect(context, "download-started", G_CALLBACK(WebViewSignals::downloadStarted),
                     this);
    if (options_.automation) {
        webkit_web_context_set_automation_allowed(context, TRUE);
        g_signal_connect(context, "automation-started",
                         G_CALLBACK(WebViewSignals::automationStarted), this);
    }
}

void WebViewHost::createView() {
    const glib::Ref<WebKitSettings> settings(webkit_settings_new_with_settings(
        "enable-javascript", TRUE, "javascript-can-open-windows-automatically", TRUE,
        "allow-file-access-from-file-urls", TRUE, "enable-developer-extras",
        options_.developerTools ? TRUE : FALSE, "media-playback-requires-user-gesture", FALSE,
        nullptr));
    const std::string agent =
        std::string(webkit_settings_get_user_agent(settings.get())) + kUserAgentSuffix;
    webkit_settings_set_user_agent(settings.get(), agent.c_str());
    const glib::Ref<WebKitWebsitePolicies> policies(
        webkit_website_policies_new_with_policies("autoplay", WEBKIT_AUTOPLAY_ALLOW, nullptr));
    // The view starts floating; the host takes that reference.
    view_.reset(WEBKIT_WEB_VIEW(g_object_ref_sink(
        g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context_.get(), "settings",
                     settings.get(), "website-policies", policies.get(),
                     "is-controlled-by-automation", options_.automation ? TRUE : FALSE, nullptr))));
}

void WebViewHost::connectSignals() {
    WebKitWebView* view = view_.get();
    g_signal_connect(view, "decide-policy", G_CALLBACK(WebViewSignals::decidePolicy), this);
    g_signal_connect(view, "create", G_CALLBACK(WebViewSignals::createRequested), this);
    g_signal_connect(view, "permission-request", G_CALLBACK(WebViewSignals::permissionRequested),
                     this);
    g_signal_connect(view, "context-menu", G_CALLBACK(WebViewSignals::contextMenu), this);
    g_signal_connect(view, "notify::title", G_CALLBACK(WebViewSignals::titleChanged), this);
    g_signal_connect(view, "web-process-terminated",
                     G_CALLBACK(WebViewSignals::webProcessTerminated), this);
    g_signal_connect(view, "drag-data-received", G_CALLBACK(WebViewSignals::dragDataReceived),
                     this);
    g_signal_connect(view, "drag-drop", G_CALLBACK(WebViewSignals::dragDrop), this);
    g_signal_connect(view, "load-changed", G_CALLBACK(WebViewSignals::loadChanged), this);
}

GtkWidget* WebViewHost::widget() const {
    return GTK_WIDGET(view_.get());
}

void WebViewHost::start() {
    navigate(startUrl);
}

void WebViewHost::reload() {
    if (view_) webkit_web_view_reload(view_.get());
}

void WebViewHost::detachView() {
    closeQuestion_.cancel();
    if (!view_) return;
    g_signal_handlers_disconnect_by_data(view_.get(), this);
    // Null before the last reference goes: what runs meanwhile sees no view.
    view_.reset();
}

void WebViewHost::navigate(const std::string& url) {
    if (!view_) return;
    webkit_web_view_load_uri(view_.get(), url.c_str());
}

// Drains the queue; a burst of events goes to the page in a few scripts.
void WebViewHost::processEvent() {
    EventScriptBatch batch;
    auto send = [&] {
        const std::string script = batch.take();
        if (view_ && !script.empty())
            webkit_web_view_evaluate_javascript(view_.get(), script.data(),
                                                static_cast<gssize>(script.size()), nullptr,
                                                nullptr, nullptr, nullptr, nullptr);
    };
    std::string text;
    while (takeForDelivery(text)) {
        batch.add(text);
        if (batch.full()) send();
    }
    send();
}

void WebViewHost::askPageToClose() {
    closeQuestion_.ask(view_.get());
}

void WebViewHost::requestClose() {
    // Never inside the call that asked: the close runs from the loop.
    ui().post([this] {
        if (onCloseRequested) onCloseRequested();
    });
}

std::string WebViewHost::call(const std::string& callName, const Args& args) {
    if (!native_) return "v";
    return native_->call(callName, args);
}

void WebViewHost::documentStarted(const std::string&) {
    clearPush();
}

void WebViewHost::frameMessage(const std::string& frameName, const std::string& text) {
    postEvent(eventText({"app", "iframe", frameName, text}));
}

// A file dropped on a page that does not take the drop itself makes WebKit
// open that file in place of the page. That navigation is not performed: the
// page learns the file's path instead (unless it handles drops itself).
bool WebViewHost::takeDropNavigation(const std::string& uri) {
    constexpr gint64 kDropWindowUs = 5 * G_USEC_PER_SEC;
    if (dropTime_ == 0 || g_get_monotonic_time() - dropTime_ > kDropWindowUs) return false;
    const bool dragged =
        std::find(draggedUris_.begin(), draggedUris_.end(), uri) != draggedUris_.end();
    if (!dragged) return false;
    dropTime_ = 0;
    const std::string path = localPathOfFileUri(uri);
    if (!dragDropEnabled && !path.empty()) postEvent(eventText({"app", "command", "open", path}));
    return true;
}

void WebViewHost::openNewWindowRequest(const std::string& uri) {
    if (startsWith(uri, "file:///")) {
        const std::string path = localPathOfFileUri(uri);
        if (!dragDropEnabled && !path.empty())
            postEvent(eventText({"app", "command", "open", path}));
        return;
    }
    if (startsWith(uri, "http://") || startsWith(uri, "https://") || startsWith(uri, "mailto:"))
        g_app_info_launch_default_for_uri_async(uri.c_str(), nullptr, nullptr, nullptr, nullptr);
}

void WebViewHost::recordDraggedUris(char** uris) {
    draggedUris_.clear();
    std::vector<std::string> files;
    for (char** u = uris; u && *u; ++u) {
        draggedUris_.emplace_back(*u);
        const std::string path = localPathOfFileUri(*u);
        if (!path.empty()) files.push_back(path);
    }
    // Recorded for app.dropfiles only while the page handles drops; a drag
    // without local files leaves the last list in place.
    if (dragDropEnabled && !files.empty() && native_)
        native_->objects().droppedFiles = std::move(files);
}

} // namespace kx5
